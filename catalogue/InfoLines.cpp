#include "catalogue/InfoLines.h"

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueKeys.h"

namespace {
std::vector<std::string> NumberedLines(const Catalogue& catalogue, const std::string& section,
                                       const std::string& keyPrefix) {
    std::vector<std::string> lines;
    for (int k = FirstInfoLine; k <= LastInfoLine; ++k) {
        const std::string key = keyPrefix + std::to_string(k);
        if (catalogue.HasKey(section, key)) lines.push_back(catalogue.ReadValue(section, key, ""));
    }
    return lines;
}
}  // namespace

std::vector<std::string> DescriptionLines(const Catalogue& catalogue, int itemNumber,
                                          const std::string& language) {
    return NumberedLines(catalogue, ItemSection(itemNumber), "Info_" + language + "_");
}

std::vector<std::string> NoteLines(const Catalogue& catalogue) {
    return NumberedLines(catalogue, NotesSection, "Info_");
}
