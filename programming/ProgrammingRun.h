#pragma once
// One complete update of the connected device: identify, load and stamp the image,
// write the fuses, keep the EEPROM across the chip erase, program and verify the flash.

#include <chrono>
#include <string>
#include <vector>

#include "programming/EepromKeeper.h"
#include "programming/LinkFactory.h"
#include "programming/RunParams.h"
#include "programming/RunPreflight.h"
#include "programming/RunReport.h"

struct RunOptions {
    std::string DataFolder;              // EEPROM copies, run logs and the run record
    std::string FirmwareIdText;          // the item's identifier pattern, for the run record only
    std::string EepromCopyToWrite = {};  // a saved copy to write back instead of what was read
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
    void WriteFuse(TIspLink& link, const char* name, const std::string& text,
                   std::optional<uint8_t> value, uint8_t instruction);
    void FailurePath(const EProgError& e, TIspLink& link);
    void KeepRecords();
    static RunOptions WithDefaultFolder(RunOptions options);
    static bool OnProgress(void* self, int32_t position, int32_t total, ProgressPhase phase);

    const RunParams Params;
    IRunReport& Report;
    LinkFactory MakeLink;
    RunOptions Options;
    RunOutcome Outcome;
    RunNumbers Numbers;              // the texts of Params, checked before the port is opened
    std::vector<std::string> Lines;  // the log as written, for the log file
    std::chrono::system_clock::time_point Started;
    EepromKeeper Keeper;
};
