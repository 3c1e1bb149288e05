#pragma once
// The catalogue file parsed once, with the state of the file it was parsed from. A parse
// stays good while the file keeps its identity (device and inode: not replaced), its size and
// its modification time to the nanosecond; any edit or replacement changes one of them.

#include <cstddef>
#include <cstdint>
#include <string>

#include "catalogue/IniText.h"
#include "platform/SystemFiles.h"

// Far beyond any catalogue; a larger file is the wrong file, not worth the memory.
constexpr std::size_t MaxCatalogueBytes = std::size_t{64} << 20;

// What tells one state of a file from another.
struct FileStamp {
    uint64_t Device = 0, Inode = 0;
    int64_t Size = 0;
    int64_t ModifiedSeconds = 0, ModifiedNanoseconds = 0;

    static FileStamp Of(const sysfile::Info& info);
    bool operator==(const FileStamp& o) const;
};

struct CatalogueSnapshot {
    // Reads and parses the file. A file that cannot be read gives no keys and its errno in
    // Error (EISDIR for a folder, EINVAL for no regular file, EFBIG for an oversized one).
    static CatalogueSnapshot Read(const std::string& path);

    int Error = 0;
    // True when the file stayed the same while it was read, so the parse may be kept for it.
    bool Stable = false;
    FileStamp Stamp;
    IniSections Keys;
};

// The file's stamp now; false when it cannot be told (no such file).
bool StampOfPath(const std::string& path, FileStamp& stamp);
