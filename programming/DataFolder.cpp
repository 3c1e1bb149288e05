#include "programming/DataFolder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

std::string DefaultDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (xdg && *xdg == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home ? home : "/tmp") + "/.local/share";
    }
    return base + "/KARDO/Q40Prog";
}

int MakeFolders(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) return error.value() ? error.value() : EIO;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

namespace {
std::string Format(std::chrono::system_clock::time_point t, bool utc, const char* layout,
                   const char* millisLayout) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
    std::tm tm{};
    if (utc)
        gmtime_r(&secs, &tm);
    else
        localtime_r(&secs, &tm);
    char text[64];
    const std::size_t n = std::strftime(text, sizeof text, layout, &tm);
    std::snprintf(text + n, sizeof text - n, millisLayout, static_cast<int>(ms));
    return text;
}
}  // namespace

std::string FileTimeStamp(std::chrono::system_clock::time_point t) {
    return Format(t, false, "%Y%m%d-%H%M%S", "-%03d");
}

std::string IsoTimeStamp(std::chrono::system_clock::time_point t) {
    return Format(t, true, "%Y-%m-%dT%H:%M:%S", ".%03dZ");
}
