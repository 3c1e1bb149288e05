#include "programming/UniqueFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace {
// Names tried before giving up: far more than runs that can start in one millisecond.
constexpr int MaxNameAttempts = 1000;

int WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EINTR)
            return errno;
        else if (n == 0)
            return EIO;
    }
    return 0;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The rename must survive a crash too: flush the folder that holds the new name.
void SyncFolder(const std::string& path) {
    const int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    ::close(fd);
}
}  // namespace

int WriteFileDurably(const std::string& path, const void* data, std::size_t size) {
    std::string temp = path + ".tmp-XXXXXX";
    std::vector<char> pattern(temp.begin(), temp.end());
    pattern.push_back('\0');
    const int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    temp = pattern.data();
    int err = WriteAll(fd, data, size);
    if (err == 0 && fchmod(fd, 0644) != 0) err = errno;
    if (err == 0 && fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && std::rename(temp.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0)
        std::remove(temp.c_str());
    else
        SyncFolder(path);
    return err;
}

FileResult ClaimUniqueFile(const std::string& stem, const std::string& extension) {
    FileResult r;
    for (int n = 1; n <= MaxNameAttempts; ++n) {
        std::string path = stem;
        if (n > 1) path += "-" + std::to_string(n);
        path += extension;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            r.Path = path;
            return r;
        }
        if (errno != EEXIST) {
            r.Error = errno;
            r.Failed = path;
            return r;
        }
    }
    r.Error = EEXIST;
    r.Failed = stem + extension;
    return r;
}

FileResult SaveUniqueFile(const std::string& stem, const std::string& extension, const void* data,
                          std::size_t size) {
    FileResult r = ClaimUniqueFile(stem, extension);
    if (r.Error != 0) return r;
    r.Error = WriteFileDurably(r.Path, data, size);
    if (r.Error != 0) {
        std::remove(r.Path.c_str());
        r.Failed = r.Path;
        r.Path.clear();
    }
    return r;
}
