#include "catalogue/CatalogueLocation.h"

#include <windows.h>

#include <string>

#include "platform/win32/WideText.h"

// The .exe's path in UTF-8 with "/" between folders, as the catalogue's paths are built.
std::string OwnExecutablePath() {
    std::wstring buffer(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) return {};
    return NarrowPath(buffer.substr(0, n));
}

bool IsExistingFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}
