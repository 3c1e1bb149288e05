#include "platform/win32/WideText.h"

#include <cerrno>

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
    return wide;
}

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

int ErrnoFromWin32(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EBUSY;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_DIRECTORY:
            return ENOTDIR;
        case ERROR_INVALID_HANDLE:
            return EBADF;
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_BAD_UNIT:
            return ENODEV;
        default:
            return Win32ErrorBase + static_cast<int>(code);
    }
}

std::string NarrowPath(const std::wstring& path) {
    std::string narrow = Narrow(path);
    for (char& c : narrow)
        if (c == '\\') c = '/';
    while (narrow.size() > 1 && narrow.back() == '/') narrow.pop_back();
    return narrow;
}
