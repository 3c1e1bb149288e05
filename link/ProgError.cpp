#include "link/ProgError.h"

#include "link/OsErrorText.h"

EProgError::EProgError(int32_t code, std::string detail) : Code(code), Detail(std::move(detail)) {}

EProgError OsFailure(int32_t code, int os, const std::string& what) {
    EProgError e(code, what.empty() ? std::string() : what + ": " + OsErrorText(os));
    e.OsError = static_cast<uint32_t>(os);
    return e;
}

std::string GetErrorText(int32_t code) {
    switch (code) {
        case errAddressRange:
            return "Memory address out of range.";
        case errHexChecksum:
            return "Error loading hex file. (Bad checksum)";
        case errBadEcho:
            return "Programmer Error. (Bad echo)";
        case errBadAcknowledge:
            return "Programmer Error. (Bad acknowledge)";
        case errNotConnected:
            return "Programmer not connected.";
        case errPortInUse:
            return "Error opening serial port. Port already in use?";
        case errPortNotAvailable:
            return "Error opening serial port. Port not available.";
        case errSerialPort:
            return "Serial port error!";
        case errUnknownChip:
            return "Unknown chip type.";
        case errProgMode:
            return "Unable to enter programming mode.";
        case errFlashVerify:
            return "Flash verify error!";
        case errFlashProgram:
            return "Flash programm error!";
        case errEepromVerify:
            return "EEProm verify error!";
        case errEepromProgram:
            return "EEProm programm error!";
        case errAborted:
            return "Aborted.";
        case errFileOpen:
            return "Error opening firmware file.";
        case errHexSyntax:
            return "Error loading hex file. (Bad record)";
        case errImageLength:
            return "Image length out of range.";
        case errImageTooLarge:
            return "Firmware does not fit into the chip's flash.";
        case errBadNumber:
            return "Invalid number.";
        case errBackupWrite:
            return "Error saving the EEPROM copy.";
        case errBackupMismatch:
            return "EEPROM copy does not fit the connected chip.";
        case errDataFolder:
            return "Error writing to the data folder.";
        case errEepromUndecided:
            return "Stopped before the erase: an EEPROM copy may belong to this device.";
        case errBackupRead:
            return "Error reading the EEPROM copy.";
        case errIspLockout:
            return "Fuse value would lock out serial programming.";
        case errPendingRecord:
            return "Error using the record of pending EEPROM copies.";
        case errFuseAbsent:
            return "Fuse not present on this chip.";
        case errFuseVerify:
            return "Fuse verify error.";
        case errImageEmpty:
            return "Firmware image is empty or too short.";
        case errNoProcessorEntry:
            return "This item cannot be programmed using this selection!";
        case errChipChanged:
            return "The device's chip is not the one the values were chosen for.";
        default:
            return "Unknown Error";
    }
}
