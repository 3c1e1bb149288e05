#include "programming/UniqueFile.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/SystemFiles.h"

namespace {
// Names tried before giving up: far more than runs that can start in one millisecond.
constexpr int MaxNameAttempts = 1000;

int WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const long long n = sysfile::WriteSome(fd, bytes + done, size - done);
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

}  // namespace

int WriteFileDurably(const std::string& path, const void* data, std::size_t size) {
    std::string temp;
    const int fd = sysfile::CreateUnique(path + ".tmp-", temp);
    if (fd < 0) return errno;
    int err = WriteAll(fd, data, size);
    if (err == 0 && sysfile::Sync(fd) != 0) err = errno;
    if (sysfile::Close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && sysfile::ReplaceWith(temp, path) != 0) err = errno;
    if (err != 0)
        sysfile::Remove(temp);
    else
        sysfile::SyncFolder(FolderOf(path));  // the rename must survive a crash too
    return err;
}

FileResult ClaimUniqueFile(const std::string& stem, const std::string& extension) {
    FileResult r;
    for (int n = 1; n <= MaxNameAttempts; ++n) {
        std::string path = stem;
        if (n > 1) path += "-" + std::to_string(n);
        path += extension;
        const int fd = sysfile::Open(path, sysfile::Write | sysfile::Create | sysfile::Exclusive);
        if (fd >= 0) {
            sysfile::Close(fd);
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
        sysfile::Remove(r.Path);
        r.Failed = r.Path;
        r.Path.clear();
    }
    return r;
}
