#pragma once
// Housekeeping: the EEPROM copies and logs of runs that ended done, once they are old enough.
// What a run names is found in the station's ledger and in runs.jsonl (which also holds runs
// from before the ledger). Only files in the data folder's eeprom/ and logs/ are ever
// removed; never the ledger or runs.jsonl, never a file that a run not done (of any age) or
// a newer run names, never one that a record cut short might name, and never one that the
// caller's 'keep' holds back (a pending copy, a copy being written back).

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The reason to keep a file whatever the records say, or nothing.
using KeepFile = std::function<std::optional<std::string>(const std::string& path)>;

struct PruneFile {
    std::string Path;
    std::uintmax_t Bytes = 0;
};

struct PrunePlan {
    std::vector<PruneFile> Files;                           // to remove, in path order
    std::vector<std::pair<std::string, std::string>> Kept;  // a done run's file kept, and why
    std::size_t UnreadableLines = 0;  // lines of runs.jsonl that are not a record
    std::uintmax_t Bytes() const;
};

// Reads the records; throws LedgerError when the ledger cannot be read. A missing ledger or
// runs.jsonl is no error: there are no runs in it.
PrunePlan PlanPrune(const std::string& dataFolder,
                    std::chrono::system_clock::time_point endedBefore, const KeepFile& keep);

struct PruneResult {
    std::vector<PruneFile> Removed;
    std::vector<std::pair<std::string, std::string>> Kept;    // held back at the last moment
    std::vector<std::pair<std::string, std::string>> Failed;  // the OS's reason
};

// Removes the plan's files, asking 'keep' again just before each.
PruneResult ApplyPrune(const PrunePlan& plan, const KeepFile& keep);
