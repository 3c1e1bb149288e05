#include "link/OsErrorText.h"

#include <cstring>

#include "platform/win32/WideText.h"

namespace {
std::string SystemText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide = n > 0 && text ? std::wstring(text, n) : std::wstring();
    if (text) LocalFree(text);
    // The system's texts end in ".\r\n"; the messages around them add their own ending.
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' '))
        wide.pop_back();
    if (wide.empty()) return "Windows error " + std::to_string(code);
    return Narrow(wide);
}
}  // namespace

std::string OsErrorText(int err) {
    if (err >= Win32ErrorBase) return SystemText(static_cast<DWORD>(err - Win32ErrorBase));
    char buffer[256] = {};
    if (strerror_s(buffer, sizeof buffer, err) != 0) return "Unknown error";
    return buffer;
}
