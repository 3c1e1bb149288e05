#pragma once
// One run as the production ledger keeps it: who ran what on which board, with which files,
// how long each phase took and how it ended. The same record goes into the station's own
// SQLite ledger and into the floor's PostgreSQL ledger; docs/ledger.md gives the meaning of
// every column.

#include <chrono>
#include <cstdint>
#include <string>

// The operations a record can belong to.
namespace LedgerOperation {
constexpr char Program[] = "program";
constexpr char Station[] = "station";
constexpr char RestoreEeprom[] = "restore-eeprom";
constexpr char Read[] = "read";
constexpr char Verify[] = "verify";
}  // namespace LedgerOperation

// The causes a failure is put down to; empty when none is known.
namespace LedgerCause {
constexpr char TargetLost[] = "target lost";
constexpr char VerifyMismatch[] = "verify mismatch";
constexpr char BoxSilent[] = "box silent";
}  // namespace LedgerCause

// Seconds spent in each phase of a run; 0 for a phase the run did not reach.
struct PhaseSeconds {
    double Identification = 0;  // open, reset, programming mode, signature
    double Fuses = 0;
    double EepromRead = 0;
    double Erase = 0;
    double EepromWrite = 0;
    double Flash = 0;  // programming and verifying the flash
};

struct LedgerRecord {
    std::string RunId;           // a random UUID (NewRunId), unique across stations: the key
    std::string Station;         // the host name, or the station's name given to the run
    std::string Operator;        // who ran it; may be empty
    std::string Operation;       // one of LedgerOperation
    std::string ProgramVersion;  // "1.0.0.1"

    std::string Catalogue;        // the catalogue file's path; empty for a run without an item
    std::string CatalogueSha256;  // lower-case hex of the file as read
    int32_t ItemNumber = 0;       // 1 to 99; 0 for a run without an item
    std::string ItemName;

    std::string Firmware;         // the firmware file's path; empty for an EEPROM restore
    std::string FirmwareSha256;   // lower-case hex of the file's bytes as the run read them
    std::string FirmwareId;       // the identifier found in the image with the item's pattern
    std::string FirmwarePattern;  // the item's identifier pattern
    int32_t ImageLength = 0;
    uint16_t CheckValue = 0;

    std::string Chip;       // "ATmega644P"; empty when the chip never answered
    std::string Signature;  // the signature bytes as read, "1E 96 0A"

    std::chrono::system_clock::time_point Started;  // kept to the millisecond, in UTC
    std::chrono::system_clock::time_point Ended;
    double Seconds = 0;  // the run's own measure of its length
    PhaseSeconds Phases;

    int32_t Code = 0;            // 0 done, else the failure code
    std::string Outcome;         // "done", or the failure code's fixed text
    std::string Detail;          // what the fixed text cannot say
    std::string Cause;           // one of LedgerCause, or empty
    bool DeviceTouched = false;  // a fuse write or the chip erase was sent
    std::string FusesWritten;    // "Lo=0xE2 Hi=0x99"
    int32_t Retries = 0;

    std::string EepromCopy;   // the copy the EEPROM must end up holding
    std::string EepromSaved;  // the EEPROM as read from the device before any write
    std::string Log;          // the run's log file

    std::string Serial;  // the board's serial number where one is known
    std::string Port;
};

// "done": the outcome text of a run that succeeded.
constexpr char LedgerDone[] = "done";
