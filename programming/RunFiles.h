#pragma once
// What outlives a run: its log as a file of its own and its line in runs.jsonl. Neither is
// lost quietly: a file that cannot be written becomes the run's last log line, naming the
// file and the OS's reason, and a warning in the outcome. The outcome itself stays as it is.

#include <string>
#include <vector>

#include "programming/RunRecord.h"
#include "programming/RunReport.h"

// Writes <folder>/logs/run-<time>.log from 'lines' (outcome.LogPath names it), then appends
// the record line to <folder>/runs.jsonl. Each problem goes to the report's log, to 'lines'
// and to outcome.Warnings.
void KeepRunFiles(const std::string& folder, const RunRecordInfo& info,
                  std::vector<std::string>& lines, RunOutcome& outcome, IRunReport& report);
