#include "platform/SystemFiles.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <climits>

#include "platform/win32/WideText.h"

namespace sysfile {
namespace {
// Locks sit far beyond any data: a Windows lock keeps other handles from reading the bytes
// it covers, which a POSIX lock never does.
constexpr DWORD LockOffsetHigh = 0x7FFFFFFF;
// How long a replace waits for readers of the old file: 2 s in all.
constexpr int ReplaceAttempts = 200;
constexpr DWORD ReplaceRetryMs = 10;

int Failed(DWORD code) {
    errno = ErrnoFromWin32(code);
    return -1;
}

HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

// Others may read, write, rename and delete the file while it is open, as on POSIX, so that
// an atomic replace never fails on a reader.
constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE OpenHandle(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES notInherited{};
    notInherited.nLength = sizeof notInherited;
    notInherited.bInheritHandle = FALSE;
    // Backup semantics open folders too, so that a folder is told as one, not as denied.
    return CreateFileW(Widen(path).c_str(), access, ShareAll, &notInherited, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

int64_t UnixNanoseconds(const FILETIME& t) {
    // 100 ns steps since 1601-01-01.
    constexpr int64_t From1601To1970 = 116444736000000000LL;
    const int64_t steps =
        static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    return (steps - From1601To1970) * 100;
}

int InfoOfHandle(HANDLE h, Info& info) {
    const DWORD type = GetFileType(h);
    if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
        info = Info{};
        info.Type = type == FILE_TYPE_CHAR ? Kind::Device : Kind::Pipe;
        return 0;
    }
    BY_HANDLE_FILE_INFORMATION found{};
    if (!GetFileInformationByHandle(h, &found)) return Failed(GetLastError());
    info.Type = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::Folder : Kind::Regular;
    info.Device = found.dwVolumeSerialNumber;
    info.Number = (static_cast<uint64_t>(found.nFileIndexHigh) << 32) | found.nFileIndexLow;
    info.Size = static_cast<int64_t>((static_cast<uint64_t>(found.nFileSizeHigh) << 32) |
                                     found.nFileSizeLow);
    const int64_t ns = UnixNanoseconds(found.ftLastWriteTime);
    info.ModifiedSeconds = ns / 1000000000LL;
    info.ModifiedNanoseconds = ns % 1000000000LL;
    if (info.ModifiedNanoseconds < 0) {
        info.ModifiedNanoseconds += 1000000000LL;
        --info.ModifiedSeconds;
    }
    return 0;
}

DWORD NextNameNumber() {
    static std::atomic<DWORD> counter{0};
    return GetTickCount() ^ (GetCurrentProcessId() << 16) ^ (counter.fetch_add(1) * 2654435761U);
}
}  // namespace

int Open(const std::string& path, unsigned mode) {
    DWORD access = FILE_READ_ATTRIBUTES;
    int flags = _O_BINARY | _O_NOINHERIT;
    if (mode & Write) {
        access |= GENERIC_WRITE;
        flags |= _O_WRONLY;
    } else if (mode & ReadWrite) {
        access |= GENERIC_READ | GENERIC_WRITE;
        flags |= _O_RDWR;
    } else {
        access |= GENERIC_READ;
        flags |= _O_RDONLY;
    }
    if (mode & Append) {
        // Only appending: Windows then puts every write at the end, whole.
        access = (access & ~static_cast<DWORD>(GENERIC_WRITE)) | FILE_APPEND_DATA | SYNCHRONIZE;
        flags |= _O_APPEND;
    }
    DWORD disposition = OPEN_EXISTING;
    if (mode & Create) disposition = (mode & Exclusive) ? CREATE_NEW : OPEN_ALWAYS;
    const HANDLE h = OpenHandle(path, access, disposition);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // A folder opened for writing is refused as "access denied"; POSIX names it.
        const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
        if (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            errno = EISDIR;
            return -1;
        }
        return Failed(code);
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags & ~_O_NOINHERIT);
    if (fd < 0) {
        CloseHandle(h);
        errno = EMFILE;
        return -1;
    }
    _setmode(fd, _O_BINARY);
    Info info;
    if ((mode & (Write | ReadWrite)) && InfoOfHandle(h, info) == 0 && info.Type == Kind::Folder) {
        // Backup semantics let a folder open for appending; POSIX refuses it by name.
        _close(fd);
        errno = EISDIR;
        return -1;
    }
    return fd;
}

long long ReadSome(int fd, void* dest, std::size_t count) {
    const unsigned n =
        count > INT_MAX ? static_cast<unsigned>(INT_MAX) : static_cast<unsigned>(count);
    return _read(fd, dest, n);
}

long long WriteSome(int fd, const void* src, std::size_t count) {
    const unsigned n =
        count > INT_MAX ? static_cast<unsigned>(INT_MAX) : static_cast<unsigned>(count);
    return _write(fd, src, n);
}

int Close(int fd) {
    // At once, not when the system gets round to it after the close.
    OVERLAPPED at{};
    at.OffsetHigh = LockOffsetHigh;
    UnlockFileEx(HandleOf(fd), 0, 1, 0, &at);
    return _close(fd);
}

int Sync(int fd) {
    return _commit(fd);
}

int SyncData(int fd) {
    return _commit(fd);
}

// The rename itself is written through (ReplaceWith); Windows has no folder to flush.
void SyncFolder(const std::string&) {}

int LockWhole(int fd, Lock how, bool wait) {
    DWORD flags = how == Lock::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
    if (!wait) flags |= LOCKFILE_FAIL_IMMEDIATELY;
    OVERLAPPED at{};
    at.OffsetHigh = LockOffsetHigh;
    if (LockFileEx(HandleOf(fd), flags, 0, 1, 0, &at)) return 0;
    const DWORD code = GetLastError();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) {
        errno = EWOULDBLOCK;
        return -1;
    }
    return Failed(code);
}

int InfoOf(int fd, Info& info) {
    const HANDLE h = HandleOf(fd);
    if (h == INVALID_HANDLE_VALUE) {
        errno = EBADF;
        return -1;
    }
    return InfoOfHandle(h, info);
}

int InfoAt(const std::string& path, Info& info) {
    const HANDLE h = OpenHandle(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return Failed(GetLastError());
    const int result = InfoOfHandle(h, info);
    CloseHandle(h);
    return result;
}

// A file another program has open cannot be replaced on Windows: a reader holds it for a
// moment only, so the replace is tried again for a while.
int ReplaceWith(const std::string& from, const std::string& to) {
    const std::wstring source = Widen(from), target = Widen(to);
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(source.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return 0;
        const DWORD code = GetLastError();
        if ((code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) ||
            attempt >= ReplaceAttempts)
            return Failed(code);
        Sleep(ReplaceRetryMs);
    }
}

int Remove(const std::string& path) {
    if (DeleteFileW(Widen(path).c_str())) return 0;
    return Failed(GetLastError());
}

int CreateUnique(const std::string& prefix, std::string& path) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        DWORD number = NextNameNumber();
        std::string name = prefix;
        for (int i = 0; i < 6; ++i) {
            name += letters[number % 36];
            number /= 36;
        }
        const int fd = Open(name, Write | Create | Exclusive);
        if (fd >= 0) {
            path = name;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

std::filesystem::path FsPath(const std::string& path) {
    return std::filesystem::path(Widen(path));
}

std::string FsText(const std::filesystem::path& path) {
    std::wstring text = path.wstring();
    for (wchar_t& c : text)
        if (c == L'\\') c = L'/';
    return Narrow(text);
}

std::string NormalPath(const std::string& path) {
    std::error_code ignored;
    return FsText(std::filesystem::absolute(FsPath(path), ignored).lexically_normal());
}

bool IsTerminal(int fd) {
    const HANDLE h = HandleOf(fd);
    DWORD mode = 0;
    if (!GetConsoleMode(h, &mode)) return false;
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
    // Older consoles refuse it: they get plain lines.
    return SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace sysfile
