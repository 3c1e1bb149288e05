#include "catalogue/MissingCatalogue.h"

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueLocation.h"

std::vector<std::string> MissingCatalogueNote(const Catalogue& catalogue,
                                              const std::string& programFolder) {
    const std::string problem = catalogue.Problem();
    if (problem.empty()) return {};
    const std::string& file = catalogue.Path();
    const std::string firmware = programFolder + "/" + FirmwareFolderName + "/";
    const std::string images = programFolder + "/" + ImagesFolderName + "/";
    return {
        "No catalogue: " + problem + ".",
        "Without it the main window lists no firmware to program.",
        "",
        "To put a catalogue in place, copy it to",
        "    " + file,
        "(for example: sudo cp Q40Prog.INI " + file + "),",
        "its firmware files into " + firmware,
        "and its pictures into " + images + ",",
        "then start the program again.",
    };
}
