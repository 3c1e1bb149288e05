#include "link/Clock.h"

#include <chrono>
#include <thread>

namespace {
class RealClock : public IClock {
public:
    void SleepMs(int ms) override {
        if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};
}  // namespace

IClock& SystemClock() {
    static RealClock clock;
    return clock;
}
