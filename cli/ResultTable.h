#pragma once
// What several updates came to: one row per port, and the exit code of them all.

#include <string>
#include <vector>

#include "programming/RunReport.h"

struct PortResult {
    std::string Port;
    RunOutcome Outcome;
};

// Columns port, chip, outcome ("done" or the failure's text), seconds, EEPROM copy.
std::string ResultTable(const std::vector<PortResult>& results);

// 0 done; 3 failed after a fuse write or the chip erase; 1 failed with the device untouched.
int ExitCodeOf(const RunOutcome& outcome);
// 0 when every update is done (or there was none); else 3 when any failed after changing its
// device, else 1.
int ExitCodeOfAll(const std::vector<RunOutcome>& outcomes);
