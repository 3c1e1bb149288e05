#pragma once
// What a box that stops answering after N received bytes does to an update, worked out
// beforehand on the in-process box: the same run sends the same bytes, so the read left
// waiting there is the read left waiting on the pseudo-terminal.

#include "tests/faults/FaultRow.h"
#include "tests/faults/TestDevice.h"

// Bytes an update of the device sends to the box from start to end.
long long BytesOfGoodUpdate(const TestDevice& device, const std::string& scratch);

// The expected outcome with --drop-after 'dropAfter': code 4 at the step where the box
// went quiet, waiting out the read time-out of the read it left unanswered.
Expected ForecastDrop(const TestDevice& device, long long dropAfter, const std::string& scratch);
