#pragma once
// Firmware files as the loaders read them: regular files only, copied piece by piece with plain
// reads. A pipe or a device named by mistake fails at once instead of blocking or streaming
// without end, and a file that a build rewrites meanwhile gives a clean failure instead of half
// an image (a mapped file would end the process when it shrank).

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/SystemFiles.h"

// A HEX file may be this large; no firmware comes near it, so a larger file is the wrong one.
constexpr std::size_t MaxFirmwareFileBytes = std::size_t{64} << 20;

class FirmwareFile {
public:
    // Opens the file. Raises EProgError errFileOpen naming the file and the reason: it cannot
    // be opened, is no regular file (folder, pipe, device) or is larger than maxBytes.
    explicit FirmwareFile(const std::string& path, std::size_t maxBytes = SIZE_MAX);
    ~FirmwareFile();
    FirmwareFile(const FirmwareFile&) = delete;
    FirmwareFile& operator=(const FirmwareFile&) = delete;

    // The size when it was opened.
    std::size_t Size() const { return static_cast<std::size_t>(Opened.Size); }
    // Reads up to 'count' bytes; fewer only at the file's end. Raises errFileOpen on a failed
    // read.
    std::size_t Read(void* dest, std::size_t count);
    // True while the file has the size and time stamp it had when it was opened.
    bool StillAsOpened() const;
    // Raises errFileOpen "changed while it was read" unless 'bytesRead' is what was to be read
    // and the file is still as opened.
    void RequireUnchanged(std::size_t expected, std::size_t bytesRead) const;

private:
    const std::string Path;
    int Fd = -1;
    sysfile::Info Opened;
};

// The file's first 'limit' bytes (all of a shorter file) into dest; returns how many. Bytes
// beyond the limit are never read, so the file may be of any size. Fails as FirmwareFile.
std::size_t ReadFilePrefix(const std::string& path, uint8_t* dest, std::size_t limit);
