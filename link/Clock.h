#pragma once
// Waits of the link go through a clock so tests can skip them.

#include <vector>

class IClock {
public:
    virtual ~IClock() = default;
    virtual void SleepMs(int ms) = 0;
};

// Real waits on the monotonic clock.
IClock& SystemClock();

// Records the waits instead of sleeping; for tests and fuzzing.
class FakeClock : public IClock {
public:
    void SleepMs(int ms) override { Waits.push_back(ms); }
    std::vector<int> Waits;
};
