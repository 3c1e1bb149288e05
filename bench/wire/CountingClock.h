#pragma once
// Real waits, summed: the link's own pauses belong to the floor a run cannot beat.

#include "link/Clock.h"

class CountingClock : public IClock {
public:
    void SleepMs(int ms) override {
        SleptMs += ms;
        SystemClock().SleepMs(ms);
    }
    long long SleptMs = 0;
};
