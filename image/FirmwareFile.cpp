#include "image/FirmwareFile.h"

#include <algorithm>
#include <cerrno>

#include "link/ProgError.h"

namespace {

// The file is not what a firmware file must be; the OS has no part in it.
[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
    throw EProgError(errFileOpen, "File: " + path + ": " + reason);
}

[[noreturn]] void FailOs(const std::string& path, int os) {
    throw OsFailure(errFileOpen, os, "File: " + path);
}

// What a path that is no regular file names instead.
const char* KindOf(sysfile::Kind kind) {
    switch (kind) {
        case sysfile::Kind::Folder:
            return "a folder";
        case sysfile::Kind::Pipe:
            return "a named pipe";
        case sysfile::Kind::Device:
            return "a device";
        case sysfile::Kind::Socket:
            return "a socket";
        default:
            return "no regular file";
    }
}

std::string SizeText(std::size_t bytes) {
    constexpr std::size_t MiB = std::size_t{1} << 20;
    if (bytes >= MiB && bytes % MiB == 0) return std::to_string(bytes / MiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace

FirmwareFile::FirmwareFile(const std::string& path, std::size_t maxBytes) : Path(path) {
    // Non-blocking, so that opening a pipe without a writer or a serial device returns at
    // once; for a regular file the flag changes nothing.
    do {
        Fd = sysfile::Open(path, sysfile::Read | sysfile::NonBlocking | sysfile::NoTerminal);
    } while (Fd < 0 && errno == EINTR);
    if (Fd < 0) FailOs(path, errno);
    if (sysfile::InfoOf(Fd, Opened) != 0) {
        const int os = errno;
        sysfile::Close(Fd);
        FailOs(path, os);
    }
    std::string reason;
    if (Opened.Type != sysfile::Kind::Regular)
        reason = std::string("is ") + KindOf(Opened.Type) + ", not a firmware file";
    else if (Size() > maxBytes)
        reason = "is larger than " + SizeText(maxBytes) + ", not a firmware file";
    if (!reason.empty()) {
        sysfile::Close(Fd);
        Fail(path, reason);
    }
}

FirmwareFile::~FirmwareFile() {
    sysfile::Close(Fd);
}

std::size_t FirmwareFile::Read(void* dest, std::size_t count) {
    auto* d = static_cast<char*>(dest);
    std::size_t done = 0;
    while (done < count) {
        const long long n = sysfile::ReadSome(Fd, d + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            FailOs(Path, errno);
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool FirmwareFile::StillAsOpened() const {
    sysfile::Info now;
    return sysfile::InfoOf(Fd, now) == 0 && now.Size == Opened.Size &&
           now.ModifiedSeconds == Opened.ModifiedSeconds &&
           now.ModifiedNanoseconds == Opened.ModifiedNanoseconds;
}

void FirmwareFile::RequireUnchanged(std::size_t expected, std::size_t bytesRead) const {
    if (bytesRead != expected || !StillAsOpened())
        Fail(Path, "changed while it was read; is it still being written?");
}

std::size_t ReadFilePrefix(const std::string& path, uint8_t* dest, std::size_t limit) {
    FirmwareFile file(path);
    const std::size_t expected = std::min(file.Size(), limit);
    const std::size_t got = file.Read(dest, expected);
    file.RequireUnchanged(expected, got);
    return got;
}
