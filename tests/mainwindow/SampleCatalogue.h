#pragma once
// The program folder of the window tests: a catalogue with gaps, groups in mixed case,
// production items, a missing firmware file, and a picture of every kind the catalogue names.

#include <QSize>
#include <string>

#include "catalogue/CatalogueLocation.h"
#include "tests/support/TempFolder.h"

struct SampleCatalogue {
    static const QSize PictureSize;
    static const QSize IconSize;

    SampleCatalogue();
    CatalogueLocation Location() const { return {Temp.File("Q40Prog.INI"), Temp.Path}; }
    std::string Firmware(const std::string& name) const { return Temp.File("Firmware/" + name); }

    TempFolder Temp;
};
