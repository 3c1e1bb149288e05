#pragma once
// File and port names are UTF-8 inside the program and wide strings at every Win32 call, so
// a user name with umlauts in a path works. Win32 errors travel as errno values where the
// system's callers decide on errno (EBUSY, ENOENT, ...), and as Win32ErrorBase + the code
// otherwise, so that OsErrorText can give the system's own text for them.

#include <windows.h>

#include <string>

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);
// A path from Windows as paths are written inside the program: UTF-8, "/" between folders,
// no "/" at the end.
std::string NarrowPath(const std::wstring& path);

constexpr int Win32ErrorBase = 1 << 20;
// ERROR_FILE_NOT_FOUND -> ENOENT, ERROR_ACCESS_DENIED -> EACCES, ... ; others kept.
int ErrnoFromWin32(DWORD code);
