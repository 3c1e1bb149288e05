#include "tests/catalogue/CatalogueFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "tests/support/FreshFolder.h"

namespace fs = std::filesystem;

namespace {
void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path.string());
}
}  // namespace

CatalogueFolder::CatalogueFolder() {
    Root = MakeFreshFolder("q40cat-");
    if (Root.empty())
        throw std::runtime_error("cannot create a folder in " + fs::temp_directory_path().string());
}

CatalogueFolder::~CatalogueFolder() {
    std::error_code ignored;
    fs::remove_all(Root, ignored);
}

void CatalogueFolder::WriteCatalogue(const std::string& bytes) const {
    WriteFile(CataloguePath(), bytes);
}

void CatalogueFolder::AddFirmware(const std::string& name) const {
    fs::create_directories(fs::path(Root) / "Firmware");
    WriteFile(fs::path(Root) / "Firmware" / name, ":00000001FF\n");
}
