#pragma once
// Traceability: one JSON line per run in runs.jsonl, so a production line can count what it
// programmed. Lines of runs in other threads and processes never mix: the file is locked
// while a line is appended.

#include <chrono>
#include <string>

#include "ledger/LedgerRecord.h"
#include "programming/RunContext.h"
#include "programming/RunReport.h"

// What the record says about a run besides its outcome.
struct RunRecordInfo {
    std::string Operation;  // "program", "restore-eeprom", "read" or "verify"
    std::chrono::system_clock::time_point Started;
    std::string Port;
    std::string Firmware;         // firmware file; empty for an EEPROM restore
    std::string FirmwarePattern;  // the item's identifier pattern (VERSION); may be empty
    RunContext Context = {};      // station, operator, item and floor ledger
};

// One line of JSON describing the run, ending in '\n'. Its "cause" is one of the fixed words
// of CauseText (FailureCause.h): empty, "verify mismatch", "target lost", "box silent". Texts that
// are not valid UTF-8 (a Windows-1252 file name) keep the line valid: their stray bytes become
// U+FFFD.
// With the run's ledger record, the line also carries what the ledger keeps beyond it: run_id,
// station, operator, versions, digests, signature, serial, start and end in UTC, phases.
std::string RunRecordLine(const RunRecordInfo& info, const RunOutcome& outcome,
                          const LedgerRecord* ledger = nullptr);

// What a read or verify found, as one JSON document (ending in '\n'): the chip and box, fuses
// and lock bits with their meaning, the flash survey, the EEPROM, the copies and the verdict.
std::string ReadoutJson(const RunOutcome& outcome);

// Appends the line to the file, holding an exclusive lock on it meanwhile. Returns errno,
// 0 on success.
int AppendRunRecord(const std::string& path, const std::string& line);
