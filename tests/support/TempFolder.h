#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it.

#include <filesystem>
#include <string>

struct TempFolder {
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "q40test-XXXXXX").string();
        Path = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    std::string File(const std::string& name) const { return Path + "/" + name; }
    std::string Path;
};
