#pragma once
// A throw-away program folder for tests: a catalogue file and, on request, firmware files.

#include <string>

#include "catalogue/Catalogue.h"

class CatalogueFolder {
public:
    CatalogueFolder();
    ~CatalogueFolder();
    CatalogueFolder(const CatalogueFolder&) = delete;
    CatalogueFolder& operator=(const CatalogueFolder&) = delete;

    const std::string& Folder() const { return Root; }
    std::string CataloguePath() const { return Root + "/Q40Prog.INI"; }
    Catalogue Reader() const { return Catalogue(CataloguePath()); }

    // Writes the catalogue's bytes exactly as given.
    void WriteCatalogue(const std::string& bytes) const;
    // Creates Firmware/<name> with a little content.
    void AddFirmware(const std::string& name) const;

private:
    std::string Root;
};
