#pragma once
// The record of pending EEPROM copies: copies whose way back into their device has not
// finished. A run marks the copy it will write back before its chip erase and clears the mark
// once the EEPROM is back and verified; a failure in between leaves the mark, so that the
// next run can recognise the half-restored device. Kept in <data folder>/pending-eeprom.json,
// changed under a lock and replaced whole, so parallel runs and processes lose no mark.

#include <chrono>
#include <string>
#include <vector>

struct PendingCopy {
    std::string Path;  // absolute
    std::string Chip;
    std::string Port;
    std::chrono::system_clock::time_point Time;  // when its run went on to the chip erase
};

std::string PendingRecordPath(const std::string& dataFolder);

// The marks, newest first; none when there is no record. Returns errno (EBADMSG for a record
// that is not ours to read), 0 on success.
int ReadPendingCopies(const std::string& dataFolder, std::vector<PendingCopy>& copies);

// Adds the mark; a copy marked already keeps its first mark. Returns errno, 0 on success.
int MarkPending(const std::string& dataFolder, const PendingCopy& copy);

// Removes the marks of these copies. Returns errno, 0 on success.
int ClearPending(const std::string& dataFolder, const std::vector<std::string>& copyPaths);

// The form a copy's path takes in the record: absolute and without "." or "..".
std::string RecordedCopyPath(const std::string& path);
