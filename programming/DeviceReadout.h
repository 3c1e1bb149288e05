#pragma once
// What reading or verifying a device found on it, for its log, record, report and window.
// Nothing here was written to the device: these operations send reads only.

#include <cstdint>
#include <string>
#include <vector>

#include "link/Fuses.h"

// A catalogue item as far as recognising its firmware on a chip needs it.
struct KnownFirmware {
    int Item = 0;
    std::string Name;
    std::string Pattern;       // VERSION: its application identifier pattern
    std::string FirmwarePath;  // as the item's update would load it
    // Bootloader_<k> of the processor entry naming the chip, as the catalogue has it; empty
    // when none names it or the entry has none (the firmware file's size counts then).
    std::string ApplicationLength;
};

struct FoundIdentifier {
    int Item = 0;
    std::string Pattern;  // the item's pattern, or its bootloader pattern ("*" in place 3)
    bool Bootloader = false;
    std::string Text;  // the identifier text as found in the flash
};

// The check value of an item whose application identifier was found, and how the flash
// compares with the item's firmware file as an update would program it.
struct ItemCheck {
    enum FileComparison { NotCompared, Same, Differs, Unreadable };

    int Item = 0;
    std::string Name;
    std::string Identifier;
    int32_t Length = 0;  // the application length checked; 0 when there was none to check
    uint16_t Stored = 0, Computed = 0;
    bool Valid = false;
    std::string NotChecked;  // why there was no length to check, when Length is 0
    FileComparison File = NotCompared;
    int32_t FirstDifference = -1;  // with Differs
    std::string FileProblem;       // with Unreadable: the failure's text and detail
};

struct FuseReading {
    FuseByte Fuse = FuseByte::Lo;
    uint8_t Value = 0xFF;
    std::vector<std::string> Meaning;  // one line per field
};

struct DeviceReadout {
    std::string Box;  // the box's version text
    uint8_t Signature1 = 0, Signature2 = 0;

    std::vector<FuseReading> Fuses;  // the fuse bytes the chip has, Lo, Hi, Ex
    bool LockRead = false;
    uint8_t LockBits = 0xFF;
    std::vector<std::string> LockMeaning;
    std::vector<std::string> LockoutProblems;  // the lock-out guard on the fuses read

    bool FlashRead = false;
    bool FlashErased = false;
    int32_t LastNonBlank = -1;  // address of the flash's last byte that is not 0xFF
    std::vector<FoundIdentifier> Identifiers;
    std::vector<ItemCheck> Checks;
    std::string FlashCopyPath;  // --save

    bool EepromRead = false;
    bool EepromBlank = false;
    std::string EepromSha256;    // lower-case hex
    std::string EepromCopyPath;  // --save

    int DifferingBlocks = 0;  // verify: 32-byte blocks of the flash that differ from the image

    std::string Verdict;  // one line
};
