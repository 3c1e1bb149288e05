#include "catalogue/KnownFirmwares.h"

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueKeys.h"
#include "catalogue/ItemRunValues.h"
#include "catalogue/UpdatePlan.h"

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

DeviceReadRequest CatalogueReadRequest(const std::string& catalogueFile,
                                       const std::string& programFolder, const std::string& port) {
    DeviceReadRequest r;
    r.Operation = DeviceReadRequest::Read;
    r.PortName = port;
    const Catalogue catalogue(catalogueFile);
    const std::string problem = catalogue.Problem();
    r.CatalogueNote = problem.empty()
                          ? "looking for the identifiers of the items of catalogue " + catalogueFile
                          : problem + ": no identifiers are looked for";
    if (problem.empty()) r.Context.Catalogue = catalogueFile;
    r.KnownFirmwares = [catalogue, programFolder](const std::string& chip) {
        return KnownFirmwaresFor(catalogue, programFolder, chip);
    };
    return r;
}

DeviceReadRequest ItemVerifyRequest(const UpdatePlan& plan, const std::string& port) {
    DeviceReadRequest r;
    r.Operation = DeviceReadRequest::Verify;
    r.PortName = port;
    r.FirmwarePath = plan.Params.FirmwarePath;
    r.ApplicationLength = plan.Params.Bootloader;
    r.FirmwarePattern = plan.FirmwareIdText;
    r.IsItem = true;
    return r;
}
