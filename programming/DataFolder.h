#pragma once
// Where the updater keeps what must outlive a run: EEPROM copies, run logs, the run record.

#include <chrono>
#include <string>

// $XDG_DATA_HOME/KARDO/Q40Prog, else ~/.local/share/KARDO/Q40Prog. The one place that
// decides it: the window and the command line leave it to the run.
std::string DefaultDataFolder();

// Creates the folder and its parents; the OS's reason (errno) when that is impossible, else 0.
int MakeFolders(const std::string& path);

// "20261209-225001-123": local time to the millisecond, for file names.
std::string FileTimeStamp(std::chrono::system_clock::time_point t);
// "2026-12-09T22:50:01.123Z": UTC, for records.
std::string IsoTimeStamp(std::chrono::system_clock::time_point t);
