#pragma once
// What a box that stops answering after N received bytes does to an update, worked out
// beforehand on the in-process box: the same run sends the same bytes, so the read left
// waiting there is the read left waiting on the pseudo-terminal.

#include "tests/faults/FaultRow.h"
#include "tests/faults/TestDevice.h"

#include <string>
#include <vector>

// The bytes a good update sends to the box while one step runs: [First, End).
struct StepBytes {
    std::string Step;
    long long First = 0, End = 0;
};

// Every step of a good update with the bytes it sends, in order.
std::vector<StepBytes> BytesOfGoodUpdate(const TestDevice& device, const std::string& scratch);

// The expected outcome with --drop-after 'dropAfter': code 4 at the step where the box
// went quiet, waiting out the read time-out of the read it left unanswered.
Expected ForecastDrop(const TestDevice& device, long long dropAfter, const std::string& scratch);
