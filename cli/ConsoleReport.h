#pragma once
// Run report for the command line: log lines on stdout; on a terminal a progress bar with
// percent and remaining time on stderr, otherwise a plain line per tenth of a transfer.

#include <chrono>
#include <cstdio>

#include "programming/RunReport.h"

class ConsoleReport : public IRunReport {
public:
    ConsoleReport();
    void ClearLog() override {}
    void Log(const std::string& line) override;
    void ChipIdentified(const std::string&) override {}
    bool Progress(int32_t position, int32_t total, ProgressPhase phase) override;
    void Failed(const std::string&) override { EndBar(); }
    void Ended(const RunOutcome&) override { EndBar(); }

private:
    void DrawBar(int32_t position, int32_t total, int32_t phase);
    void EndBar();

    bool Terminal;
    bool BarShown = false;
    int32_t Phase = -1;
    int LastTenth = -1;
    std::chrono::steady_clock::time_point PhaseStart;
    std::chrono::steady_clock::time_point LastDraw;
};
