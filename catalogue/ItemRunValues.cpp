#include "catalogue/ItemRunValues.h"

#include <algorithm>
#include <utility>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueKeys.h"
#include "catalogue/CatalogueLocation.h"
#include "catalogue/TextCase.h"

namespace {
std::string EntryKey(const char* prefix, int entry) {
    return prefix + std::to_string(entry);
}
}  // namespace

std::string ItemFirmwarePath(const Catalogue& catalogue, const std::string& programFolder,
                             int itemNumber) {
    return FirmwarePath(programFolder,
                        catalogue.ReadValue(ItemSection(itemNumber), FirmwareKey, ""));
}

int MatchProcessorEntry(const Catalogue& catalogue, int itemNumber, const std::string& chipName) {
    if (chipName.empty()) return 0;
    const std::string section = ItemSection(itemNumber);
    int match = 0;
    // No early stop: the last matching entry wins.
    for (int e = FirstProcessorEntry; e <= LastProcessorEntry; ++e) {
        const std::string key = EntryKey("Processor_", e);
        if (catalogue.HasKey(section, key) &&
            EqualNoCase(catalogue.ReadValue(section, key, ""), chipName))
            match = e;
    }
    return match;
}

std::vector<std::string> ListedChips(const Catalogue& catalogue, int itemNumber) {
    const std::string section = ItemSection(itemNumber);
    std::vector<std::string> chips;
    for (int e = FirstProcessorEntry; e <= LastProcessorEntry; ++e) {
        const std::string chip = catalogue.ReadValue(section, EntryKey("Processor_", e), "");
        const bool listed = std::any_of(chips.begin(), chips.end(),
                                        [&](const std::string& c) { return EqualNoCase(c, chip); });
        if (!chip.empty() && !listed) chips.push_back(chip);
    }
    return chips;
}

ItemRunValues ReadItemRunValues(const Catalogue& catalogue, int itemNumber, int entry,
                                std::string firmwarePath) {
    const std::string section = ItemSection(itemNumber);
    const auto value = [&](const char* prefix) {
        return catalogue.ReadValue(section, EntryKey(prefix, entry), "");
    };
    return {std::move(firmwarePath),
            value("Fuse_Lo_"),
            value("Fuse_Hi_"),
            value("Fuse_Ex_"),
            value("Speed_"),
            value("Bootloader_"),
            EqualNoCase(value("Lockout_"), "YES"),
            value("Serial_")};
}

std::optional<ItemRunValues> RunValuesForChip(const Catalogue& catalogue,
                                              const std::string& programFolder, int itemNumber,
                                              const std::string& chipName) {
    std::string firmwarePath = ItemFirmwarePath(catalogue, programFolder, itemNumber);
    const int entry = MatchProcessorEntry(catalogue, itemNumber, chipName);
    if (entry == 0) return std::nullopt;
    return ReadItemRunValues(catalogue, itemNumber, entry, std::move(firmwarePath));
}
