#pragma once
// program with several --port: one run per port at the same time, each with its own link,
// report, EEPROM copy, log file and record line, then a table of what each came to.

#include "cli/UpdateRequest.h"

// Returns the exit code of them all (ExitCodeOfAll).
int ProgramSeveralPorts(const UpdateRequest& request);
