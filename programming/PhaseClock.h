#pragma once
// How long each phase of a run takes, for its record. A phase runs from its Enter until the
// next Enter or Stop; a phase entered twice adds up.

#include <chrono>
#include <functional>

#include "ledger/LedgerRecord.h"

enum class RunPhase { None, Identification, Fuses, EepromRead, Erase, EepromWrite, Flash };

class PhaseClock {
public:
    using Now = std::function<std::chrono::steady_clock::time_point()>;
    explicit PhaseClock(Now now = std::chrono::steady_clock::now) : Clock(std::move(now)) {}

    void Enter(RunPhase phase);
    void Stop() { Enter(RunPhase::None); }
    const PhaseSeconds& Seconds() const { return Spent; }

private:
    Now Clock;
    RunPhase Current = RunPhase::None;
    std::chrono::steady_clock::time_point Since;
    PhaseSeconds Spent;
};
