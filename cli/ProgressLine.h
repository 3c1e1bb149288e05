#pragma once
// The progress line drawn in place on a terminal: bar, status text and remaining time,
// fitted to the terminal's width so that it never wraps. Narrow terminals lose the bar
// first, then the phase text; the percent and the remaining time stay readable.

#include <cstdint>
#include <string>

struct ProgressLineParts {
    std::string Phase;    // the phase's status text, as the window shows it
    std::string Percent;  // "41%"; empty for a finished phase
    std::string Left;     // "9 s left"; empty while unknown
    double Done = 0;      // 0 to 1, for the bar
};

constexpr int ProgressBarMaxWidth = 30;  // between the brackets
constexpr int ProgressBarMinWidth = 10;  // narrower than this is no help

// At most columns - 1 characters: writing the last column makes some terminals wrap.
std::string FitProgressLine(const ProgressLineParts& parts, int columns);

// The parts for a transfer at 'position' of 'total' in 'phase', 'elapsed' seconds after the
// phase began; the remaining time once the phase has run a while and made some headway.
// 'stopPending': a stop waits for the EEPROM to be back, and the phase text says so.
ProgressLineParts MakeProgressParts(int32_t position, int32_t total, int32_t phase, double elapsed,
                                    bool stopPending = false);

// "9 s left", "2 min 5 s left".
std::string RemainingText(double seconds);
