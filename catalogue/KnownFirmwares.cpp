#include "catalogue/KnownFirmwares.h"

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueKeys.h"
#include "catalogue/ItemRunValues.h"

std::vector<KnownFirmware> KnownFirmwaresFor(const Catalogue& catalogue,
                                             const std::string& programFolder,
                                             const std::string& chip) {
    std::vector<KnownFirmware> known;
    for (int n = FirstItemNumber; n <= LastItemNumber; ++n) {
        const std::string section = ItemSection(n);
        if (!catalogue.HasKey(section, NameKey)) continue;
        KnownFirmware item;
        item.Item = n;
        item.Name = catalogue.ReadValue(section, NameKey, "");
        item.Pattern = catalogue.ReadValue(section, IdentifierKey, "");
        item.FirmwarePath = ItemFirmwarePath(catalogue, programFolder, n);
        if (const int entry = MatchProcessorEntry(catalogue, n, chip); entry != 0)
            item.ApplicationLength =
                ReadItemRunValues(catalogue, n, entry, item.FirmwarePath).Bootloader;
        known.push_back(std::move(item));
    }
    return known;
}
