#pragma once
// The report of one run among several: its log lines, chip and progress go to the board
// under its port. A stop signal stops it as it stops a single run. The question about a
// pending EEPROM copy is answered from the options (program) or as a station answers it.

#include <cstddef>

#include "programming/RunReport.h"

class PortBoard;
class StopSignals;

class PortRunReport : public IRunReport {
public:
    enum EepromPolicy {
        StopUnlessKept,  // program: stop before the erase unless --keep-device-eeprom
        KeepDevice,      // program --keep-device-eeprom
        Station,         // station: an empty EEPROM is a new board; other doubts stop it
    };

    PortRunReport(PortBoard& board, std::size_t port, const StopSignals& stop, EepromPolicy policy);

    void ClearLog() override {}
    void Log(const std::string& line) override;
    void ChipIdentified(const std::string& name) override;
    bool Progress(int32_t position, int32_t total, ProgressPhase phase) override;
    bool StopRequested() override;
    void StopPending() override;
    void Failed(const std::string&) override {}
    void Ended(const RunOutcome& outcome) override;
    EepromAnswer AskAboutEeprom(const EepromQuestion& question) override;

private:
    PortBoard& Board;
    const std::size_t Port;
    const StopSignals& Stop;
    const EepromPolicy Policy;
};

// How a station answers: an empty EEPROM is taken for a new board (production boards come
// blank), with a log line that a pending copy exists; a device that holds the first part of a
// copy that other boards could hold as well, or of several differing copies, fails before the
// erase, for a person to settle with program --use-eeprom-copy or --keep-device-eeprom.
EepromAnswer StationAnswer(const EepromQuestion& question);
