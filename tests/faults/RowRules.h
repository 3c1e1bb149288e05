#pragma once
// The rules every case must keep, checked on what one run left behind.

#include <string>
#include <vector>

#include "tests/faults/FaultRow.h"
#include "tests/faults/TestDevice.h"

// A failure is reported at once after the box vanished or an abort was asked for, and
// within the documented time-out plus this margin after a silent box.
constexpr double MarginSeconds = 1.0;
// Scheduling slack allowed below a documented time-out (the link must not give up early).
constexpr double EarlySeconds = 0.2;

struct RunEvidence {
    int Exit = -1;        // 0, 1 or 3 as q40prog-cli reports them
    int RecordCode = -1;  // "code" of the run record
    std::vector<std::string> Log;
    double Started = 0, Ended = 0;
    double StopStepAt = 0;  // when the last step line before the failure arrived
    double FailureAt = 0;   // when "programming interrupted: " arrived; 0 when it never did
    double FaultAt = 0;     // when the box was killed or the abort asked for; 0 otherwise
    bool BoxKilled = false;
    std::vector<uint8_t> FlashDump, EepromDump;  // empty when the box was killed
};

// Fills the row's outcome, seconds and EEPROM columns and its problems.
void ApplyRules(const Expected& want, const RunEvidence& run, const TestDevice& device,
                FaultRow& row);

// The path after "saving eeprom copy to ", empty when the log has none.
std::string EepromCopyOf(const std::vector<std::string>& log);
// The number after "code": in a run record line; -1 when there is none.
int RecordCodeOf(const std::string& recordLine);

extern const char* const InterruptedPrefix;
