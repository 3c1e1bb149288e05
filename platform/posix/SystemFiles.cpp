#include "platform/SystemFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace sysfile {
namespace {
int Flags(unsigned mode) {
    int flags = O_CLOEXEC;
    if (mode & Write) flags |= O_WRONLY;
    if (mode & ReadWrite) flags |= O_RDWR;
    if (mode & Create) flags |= O_CREAT;
    if (mode & Exclusive) flags |= O_EXCL;
    if (mode & Append) flags |= O_APPEND;
    if (mode & NonBlocking) flags |= O_NONBLOCK;
    if (mode & NoTerminal) flags |= O_NOCTTY;
    return flags;  // O_RDONLY is 0
}

Kind KindOf(mode_t mode) {
    if (S_ISREG(mode)) return Kind::Regular;
    if (S_ISDIR(mode)) return Kind::Folder;
    if (S_ISFIFO(mode)) return Kind::Pipe;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return Kind::Device;
    if (S_ISSOCK(mode)) return Kind::Socket;
    return Kind::Other;
}

Info FromStat(const struct stat& st) {
    Info info;
    info.Type = KindOf(st.st_mode);
    info.Device = static_cast<uint64_t>(st.st_dev);
    info.Number = static_cast<uint64_t>(st.st_ino);
    info.Size = static_cast<int64_t>(st.st_size);
    info.ModifiedSeconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    info.ModifiedNanoseconds = static_cast<int64_t>(st.st_mtim.tv_nsec);
    return info;
}
}  // namespace

int Open(const std::string& path, unsigned mode) {
    return ::open(path.c_str(), Flags(mode), 0644);
}

long long ReadSome(int fd, void* dest, std::size_t count) {
    return ::read(fd, dest, count);
}

long long WriteSome(int fd, const void* src, std::size_t count) {
    return ::write(fd, src, count);
}

int Close(int fd) {
    return ::close(fd);
}

int Sync(int fd) {
    return ::fsync(fd);
}

int SyncData(int fd) {
    return ::fdatasync(fd);
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

int LockWhole(int fd, Lock how, bool wait) {
    const int operation = (how == Lock::Shared ? LOCK_SH : LOCK_EX) | (wait ? 0 : LOCK_NB);
    return ::flock(fd, operation);
}

int InfoOf(int fd, Info& info) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -1;
    info = FromStat(st);
    return 0;
}

int InfoAt(const std::string& path, Info& info) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    info = FromStat(st);
    return 0;
}

int ReplaceWith(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str());
}

int Remove(const std::string& path) {
    return ::unlink(path.c_str());
}

int CreateUnique(const std::string& prefix, std::string& path) {
    std::vector<char> pattern(prefix.begin(), prefix.end());
    for (const char c : std::string("XXXXXX")) pattern.push_back(c);
    pattern.push_back('\0');
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return -1;
    // mkostemp makes it for its owner alone.
    if (::fchmod(fd, 0644) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(pattern.data());
        errno = err;
        return -1;
    }
    path = pattern.data();
    return fd;
}

std::filesystem::path FsPath(const std::string& path) {
    return path;
}

std::string FsText(const std::filesystem::path& path) {
    return path.string();
}

std::string NormalPath(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::absolute(path, ignored).lexically_normal().string();
}

bool IsTerminal(int fd) {
    return ::isatty(fd) == 1;
}

}  // namespace sysfile
