#include "catalogue/CatalogueLocation.h"

#include <windows.h>

#include <string>

namespace {
std::wstring Wide(const std::string& utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), n);
    return wide;
}
}  // namespace

// The .exe's path in UTF-8 with "/" between folders, as the catalogue's paths are built.
std::string OwnExecutablePath() {
    std::wstring buffer(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, buffer.data(), static_cast<int>(n), nullptr, 0,
                                         nullptr, nullptr);
    std::string path(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, buffer.data(), static_cast<int>(n), path.data(), size, nullptr,
                        nullptr);
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

bool IsExistingFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
