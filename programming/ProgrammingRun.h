#pragma once
// One complete update of the connected device: identify, load and stamp the image,
// write the fuses, keep the EEPROM across the chip erase, program and verify the flash.
// A stop asked for before the erase ends the run before its next write (a fuse, the erase);
// one that comes from the erase on waits until the EEPROM is back and verified and ends the
// run before the flash; during the flash it ends the run at the next block.

#include <chrono>
#include <string>
#include <vector>

#include "link/Fuses.h"
#include "programming/EepromKeeper.h"
#include "programming/LinkFactory.h"
#include "programming/PhaseClock.h"
#include "programming/RunContext.h"
#include "programming/RunParams.h"
#include "programming/RunPreflight.h"
#include "programming/RunReport.h"

struct RunOptions {
    std::string DataFolder;              // EEPROM copies, run logs and the run record
    std::string FirmwareIdText;          // the item's identifier pattern (may be empty)
    std::string EepromCopyToWrite = {};  // a saved copy to write back instead of what was read
    RunContext Context = {};             // for the record: station, operator, item, ledger
};

class ProgrammingRun {
public:
    ProgrammingRun(const RunParams& params, IRunReport& report, LinkFactory makeLink,
                   RunOptions options);
    RunOutcome Execute();

private:
    void Sequence(TIspLink& link);
    void Step(const std::string& line);
    void LoadImage(TIspLink& link);
    void FindIdentifier(const TIspLink& link, int32_t size);
    void WriteFuse(TIspLink& link, FuseByte fuse, const std::string& text,
                   std::optional<uint8_t> value);
    void FailurePath(const EProgError& e, TIspLink& link);
    void KeepRecords();
    void ReadSerial(const TIspLink& link);
    static RunOptions WithDefaultFolder(RunOptions options);
    static bool OnProgress(void* self, int32_t position, int32_t total, ProgressPhase phase);
    bool Progress(int32_t position, int32_t total, ProgressPhase phase);
    void StopIfRequested();
    void StopOnceEepromIsBack();

    const RunParams Params;
    IRunReport& Report;
    LinkFactory MakeLink;
    RunOptions Options;
    RunOutcome Outcome;
    RunNumbers Numbers;              // the texts of Params, checked before the port is opened
    std::vector<std::string> Lines;  // the log as written, for the log file
    std::string FusesHeld;           // what the fuses written read back as: "Lo=0xE2 Ex=0xFD"
    std::chrono::system_clock::time_point Started;
    EepromKeeper Keeper;
    // From the moment the run commits to the erase until the EEPROM is back and verified, a
    // stop waits: stopping there would leave the device without its EEPROM.
    bool EepromOnItsWay = false;
    bool StopHeld = false;  // a stop came meanwhile; it takes effect once the EEPROM is back
    PhaseClock Phases;      // for the record
};
