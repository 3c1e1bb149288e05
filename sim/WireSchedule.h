#pragma once
// When bytes cross the simulated serial line. The box is deterministic, so the simulator
// computes its answers at once and only holds them back until the moment a real line
// and a real USB adapter would let them through. All times are monotonic nanoseconds.

#include <cstdint>

namespace wire {
constexpr int BitsPerByte = 10;  // start bit, 8 data bits, stop bit
constexpr int64_t BaudRate = 115200;
constexpr int64_t NsPerSecond = 1000000000;
constexpr int64_t NsPerMs = 1000000;
constexpr int64_t NsPerUs = 1000;
// One byte's time on the line, rounded up: 86,806 ns.
constexpr int64_t ByteTimeNs = (BitsPerByte * NsPerSecond + BaudRate - 1) / BaudRate;
}  // namespace wire

struct WireOptions {
    bool BaudPace = false;     // bytes no faster than 115200 baud 8N1, both directions
    bool WriteDelays = false;  // the chip's write times hold back the box's next answer
    int LatencyMs = 0;         // USB adapter latency timer on the box-to-host side
};

class WireSchedule {
public:
    explicit WireSchedule(const WireOptions& options) : Options(options) {}

    // The moment the box has taken in a byte the host's write handed over at arrivalNs.
    int64_t TakeIn(int64_t arrivalNs);
    // The moment a byte the box produced at producedNs, after busyUs of chip write time,
    // becomes readable on the host's side of the port.
    int64_t Release(int64_t producedNs, uint32_t busyUs);

private:
    int64_t HoldBack(int64_t atAdapterNs);

    WireOptions Options;
    int64_t InLineFreeNs = INT64_MIN;   // end of the last byte towards the box
    int64_t LastReadyNs = INT64_MIN;    // the box sends in order
    int64_t OutLineFreeNs = INT64_MIN;  // end of the last byte towards the host
    int64_t HoldUntilNs = INT64_MIN;    // release time of the adapter's open batch
};
