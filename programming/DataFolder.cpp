#include "programming/DataFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool MakeFolders(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

std::string UnusedPath(const std::string& stem, const std::string& extension) {
    std::string path = stem + extension;
    for (int n = 2; access(path.c_str(), F_OK) == 0; ++n)
        path = stem + "-" + std::to_string(n) + extension;
    return path;
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

int WriteFileDurably(const std::string& path, const void* data, std::size_t size) {
    const std::string temp = path + ".part";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    int err = 0;
    while (done < size && err == 0) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (errno != EINTR)
            err = errno;
    }
    if (err == 0 && fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && std::rename(temp.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0) std::remove(temp.c_str());
    return err;
}
