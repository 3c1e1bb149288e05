#pragma once
// A run's record for the production ledger, built from what the run sent and found, and kept
// in the station's ledger (and the floor's, where one is configured).

#include <chrono>
#include <optional>
#include <string>

#include "ledger/LedgerRecord.h"
#include "platform/UserPlaces.h"
#include "programming/RunRecord.h"

// This program's version, "1.0.0.1".
const char* ProgramVersionText();

// The record of a run that ended at 'ended', with a new run_id.
LedgerRecord RunLedgerRecord(const RunRecordInfo& info, const RunOutcome& outcome,
                             std::chrono::system_clock::time_point ended);

// Keeps the record in the data folder's ledger and, where configured, the floor's. The one
// line to log when something did not go as it should (the floor not reached, and why).
std::optional<std::string> KeepInLedger(const std::string& folder, const LedgerRecord& record,
                                        const RunContext& context);
