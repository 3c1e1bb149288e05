#pragma once
// Reading what a device holds, or verifying it against a firmware, without changing anything:
// these runs send only reads to the box (programming mode, signature, fuse and lock reads,
// 'r', 'R', 't', 'V', 'D'), never a write, an erase or a page store. They report through the
// same IRunReport as an update and leave a log file and a record line like one.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "programming/DeviceReadout.h"
#include "programming/LinkFactory.h"
#include "programming/PhaseClock.h"
#include "programming/RunContext.h"
#include "programming/RunReport.h"

struct DeviceReadRequest {
    enum Kind { Read, Verify };
    Kind Operation = Read;
    std::string PortName;
    std::string DataFolder;  // logs and the run record; empty: the default one

    // Read: what the catalogue knows of firmware for the chip found; asked once the chip is
    // known. Empty: no catalogue.
    std::function<std::vector<KnownFirmware>(const std::string& chip)> KnownFirmwares;
    // Logged before the flash is read: whose identifiers are looked for, or why none are.
    std::string CatalogueNote;
    std::string SaveFolder;  // where flash and EEPROM go as Intel HEX; empty: not saved

    // Verify: the firmware as an update would program it.
    std::string FirmwarePath;
    std::string ApplicationLength;  // the Bootloader value; empty or no number: the file size
    std::string FirmwarePattern;    // the item's identifier pattern, when it is an item's
    bool IsItem = false;            // the firmware is a catalogue item's

    RunContext Context = {};  // for the record: station, operator, item, ledger
};

// The verdict of a verify that found the device equal to the image.
extern const char* const HoldsItemText;  // "Device holds this item's firmware."
extern const char* const HoldsFileText;  // "Device holds this firmware."

class DeviceReadRun {
public:
    DeviceReadRun(DeviceReadRequest request, IRunReport& report, LinkFactory makeLink);
    RunOutcome Execute();

private:
    void ReadSequence(TIspLink& link, const std::string& dataFolder);
    void VerifySequence(TIspLink& link, const std::string& dataFolder);
    std::string Identify(TIspLink& link);
    void ReadFuses(TIspLink& link);
    void ReadLockBitsOf(TIspLink& link);
    void ReadFlashPart(TIspLink& link);
    void ReadEepromPart(TIspLink& link);
    void SaveCopies(const TIspLink& link);
    void Step(const std::string& line);
    void StopIfAsked() const;
    void Failed(const EProgError& e, const TIspLink& link);
    const char* OperationName() const;
    static bool OnProgress(void* self, int32_t position, int32_t total, ProgressPhase phase);

    const DeviceReadRequest Request;
    IRunReport& Report;
    LinkFactory MakeLink;
    RunOutcome Outcome;
    std::vector<std::string> Lines;
    std::chrono::system_clock::time_point Started;
    PhaseClock Phases;  // for the record
};
