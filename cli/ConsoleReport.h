#pragma once
// Run report for the command line: log lines on stdout; on a terminal a progress line with
// bar, percent and remaining time on stderr, drawn in place and fitted to the terminal's
// width, otherwise a plain line per tenth of a transfer. Progress and StopRequested answer
// "stop" once a stop signal has come.

#include <chrono>
#include <cstdio>
#include <optional>

#include "cli/TerminalWidth.h"
#include "programming/RunReport.h"

class StopSignals;

// The command line's answer about a pending EEPROM copy: go on with the EEPROM as read when
// 'keepDevice' (--keep-device-eeprom), else stop with a detail that names the ways on.
EepromAnswer AnswerFromOptions(const EepromQuestion& question, bool keepDevice);

class ConsoleReport : public IRunReport {
public:
    explicit ConsoleReport(const StopSignals* stop = nullptr);
    // How the command line answers the question about a pending EEPROM copy: go on with the
    // EEPROM as read when 'keepDevice', else stop with a failure that names the ways on.
    void AnswerEepromQuestion(bool keepDevice) { KeepDeviceEeprom = keepDevice; }
    void ClearLog() override {}
    void Log(const std::string& line) override;
    void ChipIdentified(const std::string&) override {}
    bool Progress(int32_t position, int32_t total, ProgressPhase phase) override;
    bool StopRequested() override;
    // The progress line says that the stop waits for the EEPROM, from now on.
    void StopPending() override;
    void Failed(const std::string&) override { EndBar(); }
    // Files that could not be written are warned about on stderr as well.
    void Ended(const RunOutcome& outcome) override;
    EepromAnswer AskAboutEeprom(const EepromQuestion& question) override;

private:
    void DrawBar(int32_t position, int32_t total, int32_t phase);
    void EndBar();
    void ShowStatus(int32_t position, int32_t total, int32_t phase);

    const StopSignals* Stop;
    std::optional<TerminalWidth> Width;  // only on a terminal
    bool KeepDeviceEeprom = false;
    bool BarShown = false;
    std::size_t BarLength = 0;  // characters of the line drawn last
    int32_t Phase = -1;
    int32_t Position = 0, Total = 0;  // of the last progress call
    int LastTenth = -1;
    bool StopWaits = false;
    std::chrono::steady_clock::time_point PhaseStart;
    std::chrono::steady_clock::time_point LastDraw;
};
