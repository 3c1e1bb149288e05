#pragma once
// Where the updater keeps what must outlive a run: EEPROM copies, run logs, the run record.

#include <chrono>
#include <string>

// $XDG_DATA_HOME/KARDO/Q40Prog, else ~/.local/share/KARDO/Q40Prog (the same folder the
// desktop program's standard application-data location names).
std::string DefaultDataFolder();

// Creates the folder and its parents; false when that is impossible.
bool MakeFolders(const std::string& path);

// stem + extension, or stem-2, stem-3, ... + extension when that file exists already.
std::string UnusedPath(const std::string& stem, const std::string& extension);

// "20261209-225001-123": local time to the millisecond, for file names.
std::string FileTimeStamp(std::chrono::system_clock::time_point t);
// "2026-12-09T22:50:01.123Z": UTC, for records.
std::string IsoTimeStamp(std::chrono::system_clock::time_point t);

// Writes the bytes to a temporary file, flushes it to the disk and renames it into place,
// so a crash leaves either no file or the whole file. Returns errno, 0 on success.
int WriteFileDurably(const std::string& path, const void* data, std::size_t size);
