#include "programming/DataFolder.h"

#include <windows.h>

#include <cerrno>
#include <filesystem>

#include "platform/win32/WideText.h"

// %LOCALAPPDATA%\KARDO\Q40Prog, written with "/" as every path inside the program; Windows
// takes both.
std::string DefaultDataFolder() {
    wchar_t buffer[MAX_PATH * 4] = {};
    const DWORD n = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, MAX_PATH * 4);
    std::string base = n > 0 && n < MAX_PATH * 4 ? NarrowPath(buffer) : std::string();
    if (base.empty()) {
        const DWORD t = GetTempPathW(MAX_PATH * 4, buffer);
        base = t > 0 ? NarrowPath(buffer) : std::string(".");
    }
    return base + "/KARDO/Q40Prog";
}

int MakeFolders(const std::string& path) {
    const std::filesystem::path folder(Widen(path));
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) return error.value() ? error.value() : EIO;
    if (!std::filesystem::is_directory(folder, error)) return error ? EIO : ENOTDIR;
    return 0;
}
