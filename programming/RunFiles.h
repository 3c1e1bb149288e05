#pragma once
// What outlives a run: its log as a file of its own and its line in runs.jsonl. Neither is
// lost quietly: a file that cannot be written becomes the run's last log line, naming the
// file and the OS's reason, and a warning in the outcome. The outcome itself stays as it is.

#include <string>
#include <vector>

#include "programming/RunRecord.h"
#include "programming/RunReport.h"

// A line of a run's log file: the line as the window shows it, after its time in UTC
// ("2026-12-10T16:30:01.123Z opening serial port ttyUSB0"). Runs stamp their lines as they
// log them.
std::string LogFileLine(const std::string& line);

// Writes <folder>/logs/run-<time>.log from 'lines' (outcome.LogPath names it), then appends
// the record line to <folder>/runs.jsonl and keeps the record in the ledger (KeepInLedger).
// Each problem, a floor ledger not reached among them, goes to the report's log, to 'lines'
// and to outcome.Warnings.
void KeepRunFiles(const std::string& folder, const RunRecordInfo& info,
                  std::vector<std::string>& lines, RunOutcome& outcome, IRunReport& report);

// The record line alone, for an update that ended before its run began (no chip answered the
// query, no processor entry names it, a stop came first): it has no log of its own. A record
// that cannot be written goes to the report's log and to outcome.Warnings.
void KeepRunRecord(const std::string& folder, const RunRecordInfo& info, RunOutcome& outcome,
                   IRunReport& report);
