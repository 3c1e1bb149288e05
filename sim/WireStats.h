#pragma once
// Bytes that crossed the simulated line, as the simulator reports them with --stats.

#include <string>

struct WireStats {
    long long Received = 0;  // host to box
    long long Sent = 0;      // box to host
};

// Two lines: "bytes received: N" and "bytes sent: N".
std::string FormatWireStats(const WireStats& stats);
// Reads what FormatWireStats wrote; false when either line is missing.
bool ParseWireStats(const std::string& text, WireStats& stats);
