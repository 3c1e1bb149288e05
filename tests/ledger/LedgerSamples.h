#pragma once
// Records for the ledger's tests: one with every field set, and a set of runs whose report
// figures were counted by hand (LedgerSamples.cpp shows the count).

#include <string>
#include <vector>

#include "ledger/LedgerRecord.h"
#include "ledger/SqlDialect.h"
#include "ledger/UtcTime.h"

// Every field set, each to a value of its own; n makes run_id, serial and times differ.
LedgerRecord SampleRecord(int n);

// Millisecond time from "2026-03-02T08:00:00.000Z".
LedgerClock::time_point At(const std::string& utc);

std::vector<LedgerRecord> HandCountedRuns();

// Checks the report over HandCountedRuns() in the ledger for every grouping against the
// figures counted by hand.
void ExpectHandCountedReport(ISqlSource& ledger);

// Whether two records hold the same in every column.
void ExpectSameRecord(const LedgerRecord& a, const LedgerRecord& b);
