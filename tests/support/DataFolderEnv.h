#pragma once
// Points the runs' data folder (XDG_DATA_HOME on Linux, LOCALAPPDATA on Windows) at a test's
// own folder, so that no test reads or writes the user's real copies and records.

#include <cstdlib>
#include <string>

inline void PointDataFolderAt(const std::string& base) {
#ifdef _WIN32
    _putenv_s("LOCALAPPDATA", base.c_str());
#else
    setenv("XDG_DATA_HOME", base.c_str(), 1);
#endif
}
