#pragma once
// The record of pending EEPROM copies: copies whose way back into their device has not
// finished. A run marks the copy it will write back before its chip erase and clears the mark
// once the EEPROM is back and verified; a failure in between leaves the mark, so that the
// next run can recognise the half-restored device. Kept in <data folder>/pending-eeprom.json,
// changed under a lock and replaced whole, so parallel runs and processes lose no mark.

#include <chrono>
#include <string>
#include <vector>

#include "link/ProgError.h"

struct PendingCopy {
    std::string Path;  // absolute
    std::string Chip;
    std::string Port;
    std::chrono::system_clock::time_point Time;  // when its run went on to the chip erase
};

std::string PendingRecordPath(const std::string& dataFolder);

// Each operation returns errno, 0 on success, and names in 'failedFile' (when given) the file
// or folder the failure is about: the record, its lock or the data folder. Besides the OS's
// own reasons: EBADMSG for a record that is not ours to read (cut short, damaged), EINVAL for
// a record path that is no regular file (a FIFO would block the run). PendingRecordReason
// words them all.

// The marks, newest first; none when there is no record.
int ReadPendingCopies(const std::string& dataFolder, std::vector<PendingCopy>& copies,
                      std::string* failedFile = nullptr);

// Adds the mark; a copy marked already keeps its first mark.
int MarkPending(const std::string& dataFolder, const PendingCopy& copy,
                std::string* failedFile = nullptr);

// Removes the marks of these copies.
int ClearPending(const std::string& dataFolder, const std::vector<std::string>& copyPaths,
                 std::string* failedFile = nullptr);

// Takes the record's lock and reads the record, changing nothing: what a run checks before it
// opens the port, since a run that cannot mark its copy must not go on to the erase.
int CheckPendingRecord(const std::string& dataFolder, std::string* failedFile = nullptr);

// The reason for one of the errors above, in words.
std::string PendingRecordReason(int err);

// The run's failure for one of the errors above, with the file and the reason on its detail
// line. The mark is the only trace the next run has of a unit whose data sits on disk, so a
// run that cannot read, lock or write it stops before it writes the device.
EProgError PendingRecordFailure(int err, const std::string& file);

// The copies a record that cannot be read still names, as far as it can be read (a record cut
// short names those before the cut). Empty when nothing of it is readable.
std::vector<std::string> SalvagePendingCopies(const std::string& dataFolder);

// The form a copy's path takes in the record: absolute and without "." or "..".
std::string RecordedCopyPath(const std::string& path);
