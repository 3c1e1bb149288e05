#pragma once
// One q40prog-boxsim per test on its own pseudo-terminal, a scratch folder, and the
// command line to run against it. After every test the port must open again.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/BoxSimProcess.h"
#include "tests/e2e/CommandRun.h"

class BoxSimTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the simulator; the test fails at once when it does not come up.
    void StartBox(const std::vector<std::string>& options = {});
    const std::string& Port() const { return Sim.PortPath(); }
    CommandResult Cli(const std::vector<std::string>& args);
    // A path in this test's scratch folder.
    std::string Scratch(const std::string& name) const { return Folder + "/" + name; }
    // Stops the simulator; its exit code.
    int StopBox() { return Sim.Stop(); }

    BoxSimProcess Sim{Q40_BOXSIM};

private:
    std::string Folder;
};

// Opens and closes the port as the link does; the open's errno, 0 on success.
int OpenPortErrno(const std::string& path);
// The file's bytes; empty when it cannot be read.
std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
