#include "sim/WireSchedule.h"

#include <algorithm>

int64_t WireSchedule::TakeIn(int64_t arrivalNs) {
    if (!Options.BaudPace) return arrivalNs;
    InLineFreeNs = std::max(arrivalNs, InLineFreeNs) + wire::ByteTimeNs;
    return InLineFreeNs;
}

int64_t WireSchedule::Release(int64_t producedNs, uint32_t busyUs) {
    int64_t ready = producedNs;
    if (Options.WriteDelays) ready += static_cast<int64_t>(busyUs) * wire::NsPerUs;
    ready = std::max(ready, LastReadyNs);
    LastReadyNs = ready;
    int64_t atAdapter = ready;
    if (Options.BaudPace) {
        atAdapter = std::max(ready, OutLineFreeNs) + wire::ByteTimeNs;
        OutLineFreeNs = atAdapter;
    }
    return HoldBack(atAdapter);
}

// The adapter starts its latency timer with the first byte it holds and passes on
// everything that came in meanwhile when the timer runs out.
int64_t WireSchedule::HoldBack(int64_t atAdapterNs) {
    if (Options.LatencyMs <= 0) return atAdapterNs;
    if (atAdapterNs > HoldUntilNs)
        HoldUntilNs = atAdapterNs + static_cast<int64_t>(Options.LatencyMs) * wire::NsPerMs;
    return HoldUntilNs;
}
