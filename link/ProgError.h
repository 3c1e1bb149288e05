#pragma once
// The failure record of the programmer link and the image loader, and its message table.

#include <cstdint>
#include <string>

// Failure codes. 0..14 are the failures of the programmer link and the HEX reader; 20 and up
// are failures of the files and values a run works with (unreadable or malformed files,
// numbers and sizes out of range, EEPROM copies).
enum ProgErrorCode : int32_t {
    errAddressRange = 0,
    errHexChecksum = 1,
    errBadEcho = 2,
    errBadAcknowledge = 3,  // reserved
    errNotConnected = 4,
    errPortInUse = 5,
    errPortNotAvailable = 6,
    errSerialPort = 7,
    errUnknownChip = 8,
    errProgMode = 9,
    errFlashVerify = 10,  // the device's flash differs from the image (verify)
    errFlashProgram = 11,
    errEepromVerify = 12,  // reserved
    errEepromProgram = 13,
    errAborted = 14,

    errFileOpen = 20,        // firmware or backup file cannot be read
    errHexSyntax = 21,       // a HEX record that is not well formed
    errImageLength = 22,     // check-value length outside the flash image
    errImageTooLarge = 23,   // image or application length beyond the chip's flash
    errBadNumber = 24,       // fuse or speed text that is no number in its range
    errBackupWrite = 25,     // EEPROM copy could not be saved
    errBackupMismatch = 26,  // EEPROM copy does not fit the connected chip
    errDataFolder = 27,      // the run's log or record cannot be written

    // An interrupted update's EEPROM copy may belong to this device; a person must decide.
    errEepromUndecided = 28,
    errBackupRead = 29,     // EEPROM copy cannot be read (or is too large to be one)
    errIspLockout = 30,     // fuse value would shut the serial programming interface
    errPendingRecord = 31,  // the record of pending EEPROM copies cannot be read, locked or written
    errFuseAbsent = 32,     // a fuse value for a fuse byte the chip does not have
    errFuseVerify = 33,     // a fuse read back after its write holds other bits
    errImageEmpty = 34,     // image or application length too short to carry the check value
    errNoProcessorEntry = 35,  // no processor entry of the catalogue item names the chip
    errChipChanged = 36,       // the chip that answers is not the one the values were chosen for
    // A fault inside the program or the system (memory gone, a library's exception): it has
    // no text of its own, "Unknown Error", and its words go on the detail line.
    errInternal = 37,
};

struct EProgError {
    int32_t Code = 0;
    // The OS's reason (errno) for a failure that comes from the OS; 0 for every other one.
    uint32_t OsError = 0;
    // What the fixed text cannot say (file and line, OS reason, port, cure), shown on a line of
    // its own below that text: never inside it, so the fixed text reads the same everywhere.
    std::string Detail;

    EProgError() = default;
    explicit EProgError(int32_t code, std::string detail = {});
};

// A failure that comes from the OS: keeps errno 'os' and gives "what: <the OS's reason>" as
// the detail; with 'what' empty the detail stays empty.
EProgError OsFailure(int32_t code, int os, const std::string& what);

// Fixed text of a code; "Unknown Error" for every code without one.
std::string GetErrorText(int32_t code);
