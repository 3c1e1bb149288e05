#pragma once
// What a run checks before it opens the port: every number it will send or use, and that the
// data folder takes the EEPROM copy, the log and the record. A failure found here leaves the
// device exactly as it was; the same failure found after a fuse write would not.

#include <cstdint>
#include <optional>
#include <string>

#include "programming/RunParams.h"

// Fewest bytes an application length may cover: the check value's own two and one more, so
// the value never lands on the reset vector at address 0.
constexpr int32_t MinApplicationLength = 3;

struct RunNumbers {
    std::optional<uint8_t> FuseLo, FuseHi, FuseEx;  // nothing: that fuse is not written
    std::optional<uint16_t> Speed;                  // nothing: the port time stays 100
    std::optional<int32_t> ApplicationLength;       // nothing: the loaded size
    bool BootloaderNotANumber = false;              // Bootloader was given but is no number
};

// Converts the run's texts. Throws EProgError errBadNumber for a fuse that is no number from
// 0 to 255 or a speed that is no number from 0 to 65535, errImageEmpty for an application
// length below MinApplicationLength, errImageTooLarge for one beyond the flash image; the
// detail names the value.
// A Bootloader text that is no number is no failure: the loaded size is used instead.
RunNumbers CheckRunNumbers(const RunParams& params);

// Creates the data folder with its folders for EEPROM copies and logs and checks that files
// can be made in them and that the run record can be appended. Throws EProgError
// errBackupWrite (the EEPROM copy could not be kept) or errDataFolder (logs, record), naming
// the path and the reason.
void CheckDataFolder(const std::string& folder);
