#pragma once
// A new, empty folder under the system's temporary folder, named 'prefix' and six characters;
// empty when none can be made.

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

inline std::string MakeFreshFolder(const std::string& prefix) {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
#ifdef _WIN32
    // No mkdtemp: a random name that create_directory proves new.
    std::random_device seed;
    std::mt19937 pick(seed());
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix;
        for (int i = 0; i < 6; ++i) name += letters[pick() % 36];
        std::error_code error;
        if (std::filesystem::create_directory(base / name, error))
            return (base / name).generic_string();
    }
    return {};
#else
    std::string pattern = (base / (prefix + "XXXXXX")).string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    return mkdtemp(buf.data()) ? std::string(buf.data()) : std::string();
#endif
}
