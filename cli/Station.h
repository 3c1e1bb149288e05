#pragma once
// A production bench: on every port at once, wait for a board, update it, say how it went,
// wait for its removal, and so on until Ctrl-C. A board is never updated twice without being
// taken off in between, and the station never stops to ask.

#include "cli/UpdateRequest.h"

// Returns the exit code of every update made (ExitCodeOfAll); 0 when there was none.
// 'verbose': on a terminal the runs' log lines show below the board too.
int RunStation(const UpdateRequest& request, bool verbose = false);
