#pragma once
// How a programming run tells its window (or the command line) what happens.

#include <cstdint>
#include <string>
#include <vector>

#include "ledger/LedgerRecord.h"
#include "link/Progress.h"
#include "programming/DeviceReadout.h"
#include "programming/EepromQuestion.h"
#include "programming/FailureCause.h"

struct RunOutcome {
    bool Success = false;
    int32_t Code = -1;    // failure code; meaningless on success
    std::string Message;  // the failure code's fixed text
    std::string Detail;   // what the fixed text cannot say; shown on a line of its own
    // What a memory or line failure turned out to be when the chip was asked again.
    FailureCause Cause = FailureCause::None;
    bool DeviceTouched = false;  // a fuse write or the chip erase was sent: it needs a good run
    std::string Chip;
    // The copy whose content the EEPROM must end up holding: what to restore after a failure.
    // Empty when the run never got that far.
    std::string EepromCopyPath;
    std::string EepromSavedPath;  // the EEPROM as read from the device before any write
    std::string LogPath;
    std::string FirmwareId;  // the identifier found in the image with the item's pattern
    // The item has a pattern, and the image holds no identifier matching it.
    bool FirmwareIdMissing = false;
    int32_t ImageLength = 0;  // bytes the check value covers; of a refused image, its size
    uint16_t CheckValue = 0;
    std::string FusesWritten;  // "Lo=0xE2 Hi=0x99"
    int Retries = 0;
    double Seconds = 0;
    std::vector<std::string> Warnings;  // files that could not be written, with the reason
    // What a read or a verify of the device found; left empty by the other operations.
    DeviceReadout Readout;
    // For the ledger: signature bytes 1 and 2 as the chip gave them ("96 0A"), the firmware
    // file's digest as the run read it, the board's serial and the time of each phase.
    std::string Signature;
    std::string FirmwareSha256;
    std::string Serial;
    PhaseSeconds Phases;
};

class IRunReport {
public:
    virtual ~IRunReport() = default;
    virtual void ClearLog() = 0;
    virtual void Log(const std::string& line) = 0;
    virtual void ChipIdentified(const std::string& name) = 0;
    // Before every block of a transfer and at its end; true asks the transfer to stop.
    virtual bool Progress(int32_t position, int32_t total, ProgressPhase phase) = 0;
    // Between the steps: whether a stop has been asked for (Abort, the close box, Ctrl-C).
    // The run asks before every write (each fuse, the erase) and once the EEPROM is back.
    // Once true it stays true for the run.
    virtual bool StopRequested() = 0;
    // A stop came from the erase on: the run first puts the EEPROM back and verifies it,
    // then stops before the flash. Said once; the status line shows it until the run ends.
    virtual void StopPending() = 0;
    // The failure path: status in red with the code's fixed text, bar back to its start,
    // alert sound. The detail is in the log already, on the line after the text.
    virtual void Failed(const std::string& text) = 0;
    // The link is gone and the port closed.
    virtual void Ended(const RunOutcome& outcome) = 0;
    // Before the chip erase, when the device's EEPROM may be what an interrupted update
    // left. Without an answer the run stops there.
    virtual EepromAnswer AskAboutEeprom(const EepromQuestion&) { return {}; }
};
