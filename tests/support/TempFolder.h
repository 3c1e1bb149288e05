#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it.

#include <filesystem>
#include <string>

#include "tests/support/FreshFolder.h"

struct TempFolder {
    TempFolder() : Path(MakeFreshFolder("q40test-")) {}
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    std::string File(const std::string& name) const { return Path + "/" + name; }
    std::string Path;
};
