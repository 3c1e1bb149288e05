#pragma once
// Times as the ledger keeps them: UTC to the millisecond, in one text form that sorts as it
// reads and that both SQLite and PostgreSQL take.

#include <chrono>
#include <optional>
#include <string>

using LedgerClock = std::chrono::system_clock;

// "2026-12-09T22:50:01.123Z"
std::string UtcText(LedgerClock::time_point t);

// Reads that form back; also without the milliseconds. Nothing for any other text.
std::optional<LedgerClock::time_point> ParseUtcText(const std::string& text);

// A time as a person gives it to the report: "2026-12-09", "2026-12-09T08:30",
// "2026-12-09 08:30:15", each in local time unless it ends in "Z" or an offset such as
// "+01:00"; or "today" and "yesterday" (local midnight). Nothing for anything else.
std::optional<LedgerClock::time_point> ParseReportTime(const std::string& text,
                                                       LedgerClock::time_point now);
