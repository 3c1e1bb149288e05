#include "ledger/SharedLibrary.h"

#include <windows.h>

#include "ledger/LedgerError.h"

namespace {
std::string Reason(DWORD code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string why =
        n > 0 && text ? std::string(text, n) : "Windows error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' '))
        why.pop_back();
    return why;
}

// The Linux soname's counterpart: the DLL the library's own Windows build installs.
const char* DllName(const std::string& soname) {
    if (soname.rfind("libsqlite3.so", 0) == 0) return "sqlite3.dll";
    if (soname.rfind("libpq.so", 0) == 0) return "libpq.dll";
    return nullptr;
}
}  // namespace

// Looked for beside the program first, then where Windows looks for DLLs.
SharedLibrary::SharedLibrary(const char* soname) : Name(soname) {
    if (const char* dll = DllName(Name)) Name = dll;
    Handle = reinterpret_cast<void*>(LoadLibraryA(Name.c_str()));
    if (!Handle) throw LedgerError(Name + " cannot be loaded: " + Reason(GetLastError()));
}

void* SharedLibrary::Symbol(const char* name) const {
    void* symbol = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(Handle), name));
    if (!symbol) throw LedgerError(Name + " has no " + name + ": it is not the version needed");
    return symbol;
}
