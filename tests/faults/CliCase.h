#pragma once
// A case driven through q40prog-cli program against a q40prog-boxsim of its own.

#include <string>
#include <vector>

#include "tests/faults/BoxSimChild.h"
#include "tests/faults/CliRun.h"
#include "tests/faults/FaultRow.h"
#include "tests/faults/Matrix.h"
#include "tests/faults/RowRules.h"

struct CliCase {
    std::string Fault, Phase;
    std::vector<std::string> BoxOptions;  // the fault and the pacing of the box
    std::string KillOn;                   // the box is killed at the first line starting so
    Expected Want;
};

FaultRow RunCliCase(const Matrix& m, const CliCase& c, const std::string& folder);

// Pieces the other cases share.
std::vector<std::string> ProgramCommand(const Matrix& m, const std::string& port);
std::vector<std::string> DataEnvironment(const std::string& caseFolder);
RunEvidence EvidenceOf(const CliResult& cli, const std::string& caseFolder);
// The box still runs: the port must open again; then the box stops and its dumps are read.
void CloseBox(BoxSimChild& box, const std::string& caseFolder, RunEvidence& run, FaultRow& row);
// The box was killed: a new one on a new pseudo-terminal must answer a chip query.
void CheckNewBox(const Matrix& m, FaultRow& row);
