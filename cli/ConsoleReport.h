#pragma once
// Run report for the command line: log lines on stdout; on a terminal a progress line with
// bar, percent and remaining time on stderr, drawn in place and fitted to the terminal's
// width, otherwise a plain line per tenth of a transfer. Progress answers "stop" once a
// stop signal has come.

#include <chrono>
#include <cstdio>
#include <optional>

#include "cli/TerminalWidth.h"
#include "programming/RunReport.h"

class StopSignals;

class ConsoleReport : public IRunReport {
public:
    explicit ConsoleReport(const StopSignals* stop = nullptr);
    void ClearLog() override {}
    void Log(const std::string& line) override;
    void ChipIdentified(const std::string&) override {}
    bool Progress(int32_t position, int32_t total, ProgressPhase phase) override;
    void Failed(const std::string&) override { EndBar(); }
    void Ended(const RunOutcome&) override { EndBar(); }

private:
    void DrawBar(int32_t position, int32_t total, int32_t phase);
    void EndBar();

    const StopSignals* Stop;
    std::optional<TerminalWidth> Width;  // only on a terminal
    bool BarShown = false;
    std::size_t BarLength = 0;  // characters of the line drawn last
    int32_t Phase = -1;
    int LastTenth = -1;
    std::chrono::steady_clock::time_point PhaseStart;
    std::chrono::steady_clock::time_point LastDraw;
};
