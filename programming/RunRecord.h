#pragma once
// Traceability: every run's log as a file of its own, and one JSON line per run in
// runs.jsonl, so a production line can count what it programmed.

#include <chrono>
#include <string>
#include <vector>

#include "programming/RunParams.h"
#include "programming/RunReport.h"

// Writes <folder>/logs/run-<time>.log; returns its path, empty when it could not be written.
std::string WriteRunLog(const std::string& folder, std::chrono::system_clock::time_point started,
                        const std::vector<std::string>& lines);

// One line of JSON describing the run.
std::string RunRecordLine(std::chrono::system_clock::time_point started, const RunParams& params,
                          const std::string& firmwareId, const RunOutcome& outcome);

// Appends the line to <folder>/runs.jsonl; false when it could not.
bool AppendRunRecord(const std::string& folder, const std::string& line);
