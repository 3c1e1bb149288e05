#pragma once
// What every case of the fault matrix shares: the two programs, the device, and a scratch
// folder per case.

#include <string>

#include "tests/faults/TestDevice.h"

struct Matrix {
    std::string Cli;     // q40prog-cli
    std::string BoxSim;  // q40prog-boxsim
    std::string Root;    // scratch folder of the whole matrix
    TestDevice Device;
    int Cases = 0;

    // A new empty folder for one case.
    std::string CaseFolder();
    // The updater's data folder when XDG_DATA_HOME is <case folder>/data.
    static std::string DataFolderOf(const std::string& caseFolder);
    // The options that load the device into a box and make it dump its memories.
    std::vector<std::string> BoxOptions(const std::string& caseFolder) const;
};

// "code" of the last run record in the data folder; -1 when there is none.
int LastRecordCode(const std::string& dataFolder);
// A fresh open of the port as the updater does it succeeds.
bool PortOpensAgain(const std::string& path);
