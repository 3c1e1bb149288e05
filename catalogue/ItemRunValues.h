#pragma once
// What an update takes from the catalogue: the firmware path and, for the processor entry
// that names the connected chip, its fuse, speed and application-length values. All are
// text exactly as the catalogue holds them; the programming run converts them.

#include <optional>
#include <string>
#include <vector>

class Catalogue;

// Processor entries Processor_1 to Processor_9; Processor_10 and higher are never read.
constexpr int FirstProcessorEntry = 1;
constexpr int LastProcessorEntry = 9;

struct ItemRunValues {
    std::string FirmwarePath;
    std::string FuseLo;      // empty: the low fuse is not written
    std::string FuseHi;      // empty: the high fuse is not written
    std::string FuseEx;      // empty: the extended fuse is not written
    std::string Speed;       // empty: the programmer keeps its default timing
    std::string Bootloader;  // application-area length; empty: the loaded image's length
    // Lockout_<k> is YES (any case): fuse values that shut serial programming are allowed.
    bool AllowIspLockout = false;
    // Serial_<k>: where the board's EEPROM holds its serial, "ADDR:LENGTH[:text|hex]".
    std::string SerialLocation = {};
};

// programFolder/Firmware/<Firmware value> of the item.
std::string ItemFirmwarePath(const Catalogue& catalogue, const std::string& programFolder,
                             int itemNumber);

// The number of the last processor entry whose chip name equals chipName without regard to
// case, or 0 when none does. An empty chip name (a failed chip query) matches nothing.
int MatchProcessorEntry(const Catalogue& catalogue, int itemNumber, const std::string& chipName);

// The chip names of the item's processor entries, in entry order, each once (names that
// differ in case only are one chip) and without empty ones.
std::vector<std::string> ListedChips(const Catalogue& catalogue, int itemNumber);

// The values of processor entry 'entry'; a missing key gives the empty text.
ItemRunValues ReadItemRunValues(const Catalogue& catalogue, int itemNumber, int entry,
                                std::string firmwarePath);

// Both steps for one chip; nothing when no processor entry names it.
std::optional<ItemRunValues> RunValuesForChip(const Catalogue& catalogue,
                                              const std::string& programFolder, int itemNumber,
                                              const std::string& chipName);
