#pragma once
// The production report: per group of runs (a day, a station, a socket, ...) how many runs,
// how many done and failed, the yield and the first-pass yield, the median and 95th percentile
// of a done board's seconds, and the most frequent failures. The grouping, counting, ranking
// and percentiles are SQL, one text for both engines but for the spelling of times
// (SqlDialect); the whole report's counts are the sums of its groups'.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ledger/SqlDialect.h"

enum class ReportGrouping { Day, Station, Port, Item, Firmware, Chip, Operator, All };

// "day", "station", ... as --by names them; nothing for another word.
std::optional<ReportGrouping> ParseGrouping(const std::string& word);
const char* GroupingName(ReportGrouping by);

struct ReportRequest {
    ReportGrouping By = ReportGrouping::Day;
    std::optional<std::chrono::system_clock::time_point> Since;  // started at or after
    std::optional<std::chrono::system_clock::time_point> Until;  // started before
    std::size_t TopFailures = 3;
};

struct FailureCount {
    int32_t Code = 0;
    std::string Outcome;  // the code's fixed text
    std::string Cause;
    int64_t Count = 0;
};

struct ReportGroup {
    std::string Key;  // "2026-12-09", "bench-2:/dev/ttyUSB0", "7 Q40 Basic", ...
    int64_t Runs = 0;
    int64_t Done = 0;
    int64_t Failed = 0;
    // Boards: each serial number once, each run without one as a board of its own.
    int64_t Boards = 0;
    int64_t FirstPassDone = 0;            // boards whose first run in the report ended done
    std::optional<double> MedianSeconds;  // of the runs that ended done
    std::optional<double> P95Seconds;
    std::vector<FailureCount> Failures;  // most frequent first

    double Yield() const {
        return Runs ? static_cast<double>(Done) / static_cast<double>(Runs) : 0;
    }
    double FirstPassYield() const {
        return Boards ? static_cast<double>(FirstPassDone) / static_cast<double>(Boards) : 0;
    }
};

struct Report {
    ReportRequest Request;
    std::vector<ReportGroup> Groups;  // in the natural order of their keys
    ReportGroup Total;                // every run of the report as one group
};

// The operations a report counts: the updates of boards. EEPROM restores, reads and
// verifies are in the ledger but are no boards made.
constexpr char ReportOperations[] = "'program', 'station'";

// Throws LedgerError.
Report BuildReport(ISqlSource& ledger, const ReportRequest& request);

// The statements, for a look at what runs (tests, docs). Their parameters are the request's
// Since and Until, those that are given, in that order.
std::string FiguresSql(SqlEngine engine, ReportGrouping by, const ReportRequest& window);
std::string TotalTimesSql(SqlEngine engine, const ReportRequest& window, int64_t first,
                          int64_t count);
std::string FailuresSql(SqlEngine engine, ReportGrouping by, const ReportRequest& window,
                        std::size_t top);

// Keys in the order a person reads them: digit runs by their value ("ttyUSB2" before
// "ttyUSB10"), the rest byte by byte.
bool NaturalLess(const std::string& a, const std::string& b);
