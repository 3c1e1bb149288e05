#pragma once
// Runs a program to its end with its output captured, killed when it overruns.

#include <string>
#include <vector>

struct CommandResult {
    int ExitCode = -1;  // -1 when it died from a signal or had to be killed
    std::string Out, Err;
    double Seconds = 0;
};

constexpr int CommandTimeoutMs = 60000;

CommandResult RunCommand(const std::vector<std::string>& argv, int timeoutMs = CommandTimeoutMs);
