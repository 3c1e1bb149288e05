#pragma once
// The status line of a transfer: phase text, percent, and whether the phase has finished.

#include <cstdint>
#include <string>

// "45%": position * 100 / total, truncated; 0% when total is 0 or less.
std::string PercentText(int32_t position, int32_t total);
// Text of a phase code 0..11 ("Reading EEProm... "), empty for any other code.
const char* PhaseText(int32_t phase);
bool IsKnownPhase(int32_t phase);
bool IsFinishedPhase(int32_t phase);  // odd codes 1..11
// The whole status line: running phases with their percent, finished ones without.
std::string StatusText(int32_t position, int32_t total, int32_t phase);

// While a stop waits for the EEPROM to be back in the device, a running phase shows this
// text instead of its own, so that nobody takes the board off meanwhile.
extern const char* const StopPendingText;  // "Stopping once the EEProm is back... "
const char* PhaseText(int32_t phase, bool stopPending);
std::string StatusText(int32_t position, int32_t total, int32_t phase, bool stopPending);
