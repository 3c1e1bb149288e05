#pragma once
// Abort requests during the transfers, at chosen progress calls: these cases run the
// programming run itself in this process, through the termios serial layer, against a
// q40prog-boxsim on its pseudo-terminal, with a report that asks to stop.

#include "link/Progress.h"
#include "tests/faults/FaultRow.h"
#include "tests/faults/Matrix.h"

struct AbortCase {
    std::string Fault, Phase;
    ProgressPhase On;  // the transfer whose progress call answers "stop"
    int Call;          // which of its progress calls, from 1
    Expected Want;
};

FaultRow RunAbortCase(const Matrix& m, const AbortCase& c, const std::string& folder);
