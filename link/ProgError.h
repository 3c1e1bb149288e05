#pragma once
// The failure record of the programmer link and the image loader, and its message table.

#include <cstdint>
#include <string>

// Failure codes. 0..14 are the classic table; 20 and up are failures the classic
// table has no word for (unreadable files, malformed input, sizes out of range).
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
    errFlashVerify = 10,  // reserved
    errFlashProgram = 11,
    errEepromVerify = 12,  // reserved
    errEepromProgram = 13,
    errAborted = 14,

    errFileOpen = 20,        // firmware or backup file cannot be read
    errHexSyntax = 21,       // a HEX record that is not well formed
    errImageLength = 22,     // check-value length outside the flash image
    errImageTooLarge = 23,   // image or application length beyond the chip's flash
    errBadNumber = 24,       // fuse or speed text that is not a number
    errBackupWrite = 25,     // EEPROM copy could not be saved
    errBackupMismatch = 26,  // EEPROM copy does not fit the connected chip

    // An interrupted update's EEPROM copy may belong to this device; a person must decide.
    errEepromUndecided = 27,
    errBackupRead = 28,  // EEPROM copy cannot be read (or is too large to be one)
};

struct EProgError {
    int32_t Code = 0;
    uint32_t OsError = 0;  // errno at the moment the failure was made
    std::string Detail;    // what the message alone cannot say: file, line, port, cure

    EProgError() = default;
    explicit EProgError(int32_t code, std::string detail = {});
};

// Fixed text of a code; "Unknown Error" for every code without one.
std::string GetErrorText(int32_t code);

// The text a user sees: the code's message, then the detail when there is one.
std::string DescribeError(const EProgError& e);
