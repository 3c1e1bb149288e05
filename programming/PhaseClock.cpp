#include "programming/PhaseClock.h"

namespace {
double* SlotOf(PhaseSeconds& s, RunPhase phase) {
    switch (phase) {
        case RunPhase::Identification:
            return &s.Identification;
        case RunPhase::Fuses:
            return &s.Fuses;
        case RunPhase::EepromRead:
            return &s.EepromRead;
        case RunPhase::Erase:
            return &s.Erase;
        case RunPhase::EepromWrite:
            return &s.EepromWrite;
        case RunPhase::Flash:
            return &s.Flash;
        default:
            return nullptr;
    }
}
}  // namespace

void PhaseClock::Enter(RunPhase phase) {
    const auto now = Clock();
    if (double* slot = SlotOf(Spent, Current))
        *slot += std::chrono::duration<double>(now - Since).count();
    Current = phase;
    Since = now;
}
