#include "platform/UserPlaces.h"

#include <windows.h>

#include "platform/win32/WideText.h"

std::string HostName() {
    wchar_t name[256] = {};
    DWORD size = sizeof name / sizeof name[0];
    if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size) || size == 0) return "localhost";
    return Narrow(std::wstring(name, size));
}

std::string UserConfigFolder() {
    wchar_t buffer[MAX_PATH * 4] = {};
    const DWORD n = GetEnvironmentVariableW(L"APPDATA", buffer, MAX_PATH * 4);
    if (n > 0 && n < MAX_PATH * 4) return NarrowPath(buffer);
    const DWORD t = GetTempPathW(MAX_PATH * 4, buffer);
    return t > 0 ? NarrowPath(buffer) : std::string(".");
}
