#pragma once
// The report as a person reads it (aligned columns), as CSV for a spreadsheet, and as JSON
// for a program.

#include <string>

#include "ledger/LedgerReport.h"

std::string ReportText(const Report& report);
// RFC 4180: a header line, one line per group, the whole report last as "(all)".
std::string ReportCsv(const Report& report);
std::string ReportJson(const Report& report);

// "2x 11 Flash verify error (verify mismatch); 1x 3 ..."
std::string FailuresText(const ReportGroup& group);
