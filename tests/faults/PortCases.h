#pragma once
// Two programs after one port: another program holds it, or two updates start at once.

#include <vector>

#include "tests/faults/FaultRow.h"
#include "tests/faults/Matrix.h"

FaultRow RunHeldPortCase(const Matrix& m, const std::string& folder);
// One row per update; one must finish, the other must find the port in use.
std::vector<FaultRow> RunTwoAtOnceCase(const Matrix& m, const std::string& folderA,
                                       const std::string& folderB);

extern const char* const PortInUse;
