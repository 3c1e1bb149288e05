#pragma once
// Run report for the command line: log lines on stdout; on a terminal a progress bar with
// percent and remaining time on stderr, otherwise a plain line per tenth of a transfer.

#include <chrono>
#include <cstdio>

#include "programming/RunReport.h"

class ConsoleReport : public IRunReport {
public:
    ConsoleReport();
    // How the command line answers the question about a pending EEPROM copy: go on with the
    // EEPROM as read when 'keepDevice', else stop with a failure that names the ways on.
    void AnswerEepromQuestion(bool keepDevice) { KeepDeviceEeprom = keepDevice; }
    void ClearLog() override {}
    void Log(const std::string& line) override;
    void ChipIdentified(const std::string&) override {}
    bool Progress(int32_t position, int32_t total, ProgressPhase phase) override;
    void Failed(const std::string&) override { EndBar(); }
    // Files that could not be written are warned about on stderr as well.
    void Ended(const RunOutcome& outcome) override;
    EepromAnswer AskAboutEeprom(const EepromQuestion& question) override;

private:
    void DrawBar(int32_t position, int32_t total, int32_t phase);
    void EndBar();

    bool Terminal;
    bool KeepDeviceEeprom = false;
    bool BarShown = false;
    int32_t Phase = -1;
    int LastTenth = -1;
    std::chrono::steady_clock::time_point PhaseStart;
    std::chrono::steady_clock::time_point LastDraw;
};
