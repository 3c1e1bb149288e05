// When bytes cross the simulated line: pacing, write delays and the adapter's latency.
#include <gtest/gtest.h>

#include "sim/WireSchedule.h"

namespace {
constexpr int64_t B = wire::ByteTimeNs;
constexpr int64_t Ms = wire::NsPerMs;

WireSchedule Make(bool pace, bool delays, int latencyMs) {
    WireOptions o;
    o.BaudPace = pace;
    o.WriteDelays = delays;
    o.LatencyMs = latencyMs;
    return WireSchedule(o);
}

TEST(WireSchedule, ByteTimeIsTenBitsAt115200Baud) {
    EXPECT_EQ(B, 86806);
}

TEST(WireSchedule, WithoutOptionsNothingIsHeldBack) {
    WireSchedule s = Make(false, false, 0);
    EXPECT_EQ(s.TakeIn(1000), 1000);
    EXPECT_EQ(s.TakeIn(1000), 1000);
    EXPECT_EQ(s.Release(2000, 4500), 2000);
    EXPECT_EQ(s.Release(2000, 0), 2000);
}

TEST(WireSchedule, PacedInputTakesOneByteTimePerByte) {
    WireSchedule s = Make(true, false, 0);
    EXPECT_EQ(s.TakeIn(0), B);
    EXPECT_EQ(s.TakeIn(0), 2 * B);
    EXPECT_EQ(s.TakeIn(0), 3 * B);
    EXPECT_EQ(s.TakeIn(10 * B), 11 * B);  // the line had gone quiet
}

TEST(WireSchedule, PacedOutputTakesOneByteTimePerByte) {
    WireSchedule s = Make(true, false, 0);
    EXPECT_EQ(s.Release(0, 0), B);
    EXPECT_EQ(s.Release(0, 0), 2 * B);
    EXPECT_EQ(s.Release(B, 0), 3 * B);
    EXPECT_EQ(s.Release(10 * B, 0), 11 * B);
}

TEST(WireSchedule, DirectionsArePacedIndependently) {
    WireSchedule s = Make(true, false, 0);
    EXPECT_EQ(s.TakeIn(0), B);
    EXPECT_EQ(s.Release(0, 0), B);
}

TEST(WireSchedule, WriteDelaysHoldTheAnswerAndKeepTheOrder) {
    WireSchedule on = Make(false, true, 0);
    EXPECT_EQ(on.Release(1000, 4500), 1000 + 4500 * wire::NsPerUs);
    EXPECT_EQ(on.Release(2000, 0), 1000 + 4500 * wire::NsPerUs);  // never overtakes
    WireSchedule off = Make(false, false, 0);
    EXPECT_EQ(off.Release(1000, 4500), 1000);
}

TEST(WireSchedule, LatencyReleasesABatchWhenItsFirstByteHasWaitedTheTimer) {
    WireSchedule s = Make(false, false, 16);
    EXPECT_EQ(s.Release(0, 0), 16 * Ms);
    EXPECT_EQ(s.Release(5 * Ms, 0), 16 * Ms);
    EXPECT_EQ(s.Release(16 * Ms, 0), 16 * Ms);
    EXPECT_EQ(s.Release(16 * Ms + 1, 0), 32 * Ms + 1);  // a new batch
}

TEST(WireSchedule, LatencyCountsFromTheBytesArrivalAtTheAdapter) {
    WireSchedule s = Make(true, false, 1);
    // A 32-byte answer produced at once reaches the adapter one byte time apart.
    std::vector<int64_t> release;
    for (int i = 0; i < 32; ++i) release.push_back(s.Release(0, 0));
    const int64_t firstBatch = B + Ms;
    const int inFirst = static_cast<int>(firstBatch / B);  // bytes through before it ends
    for (int i = 0; i < inFirst; ++i) EXPECT_EQ(release[i], firstBatch) << i;
    EXPECT_EQ(release[inFirst], (inFirst + 1) * B + Ms);
}
}  // namespace
