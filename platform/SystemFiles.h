#pragma once
// Files as the core uses them, alike on every system: descriptors as small ints, failures as
// errno values, paths in UTF-8 with "/" between folders. On POSIX these are the plain calls;
// on Windows the same guarantees come from the C runtime's descriptors over handles that
// other programs may read, replace and delete while they are open, as on POSIX.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace sysfile {

// How Open opens a file: one of Read, Write, ReadWrite, and any of the rest. A descriptor is
// never inherited by programs the process starts.
enum Mode : unsigned {
    Read = 1U << 0,
    Write = 1U << 1,
    ReadWrite = 1U << 2,
    Create = 1U << 3,       // a missing file is made, readable by all, writable by its owner
    Exclusive = 1U << 4,    // with Create: EEXIST when the name is taken
    Append = 1U << 5,       // every write goes to the end, whole
    NonBlocking = 1U << 6,  // a pipe without writer or a device returns at once
    NoTerminal = 1U << 7,   // a terminal opened never becomes the controlling one
};

// The descriptor, or -1 with errno set.
int Open(const std::string& path, unsigned mode);
// As read(2) and write(2): the bytes moved, 0 at the end, -1 with errno (EINTR included).
long long ReadSome(int fd, void* dest, std::size_t count);
long long WriteSome(int fd, const void* src, std::size_t count);
// 0, or -1 with errno.
int Close(int fd);
// The file's data on the disk before it returns. 0, or -1 with errno.
int Sync(int fd);
// The file's data on the disk, its time stamps perhaps not yet. 0, or -1 with errno.
int SyncData(int fd);
// The folder's entries on the disk (a rename in it survives a crash); best effort.
void SyncFolder(const std::string& folder);

enum class Lock { Shared, Exclusive };
// The whole file locked for this descriptor, as flock(2): kept until it is closed, and taken
// by other descriptors of the file too. With wait false a lock another holds gives -1 with
// EWOULDBLOCK at once. Locks never keep others from reading or writing the file.
int LockWhole(int fd, Lock how, bool wait);

enum class Kind { Regular, Folder, Pipe, Device, Socket, Other };
// What tells one state of a file from another: identity (device and file number), size and
// the modification time to the system's finest step.
struct Info {
    Kind Type = Kind::Other;
    uint64_t Device = 0, Number = 0;
    int64_t Size = 0;
    int64_t ModifiedSeconds = 0, ModifiedNanoseconds = 0;
};
// 0, or -1 with errno.
int InfoOf(int fd, Info& info);
int InfoAt(const std::string& path, Info& info);

// 'from' renamed over 'to' in one step: readers see the old file or the new one, never
// neither. 0, or -1 with errno.
int ReplaceWith(const std::string& from, const std::string& to);
// 0, or -1 with errno.
int Remove(const std::string& path);
// A new file named 'prefix' and six characters, opened for writing, readable by all and
// writable by its owner; the name in 'path'.
// The descriptor, or -1 with errno.
int CreateUnique(const std::string& prefix, std::string& path);

// The program's paths and std::filesystem's: UTF-8 text with "/" between folders on every
// system (a path of std::filesystem may hold "\" on Windows).
std::filesystem::path FsPath(const std::string& path);
std::string FsText(const std::filesystem::path& path);
// The path made absolute (against the current folder) and put in its normal form, so that two
// names of one file give one text.
std::string NormalPath(const std::string& path);

// Whether the descriptor is a terminal that takes the escape sequences of a progress line
// (on Windows a console whose VT processing is on or could be turned on).
bool IsTerminal(int fd);
// The standard streams' descriptors.
constexpr int StandardOutput = 1;
constexpr int StandardError = 2;

}  // namespace sysfile
