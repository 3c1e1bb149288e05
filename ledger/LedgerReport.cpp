#include "ledger/LedgerReport.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "ledger/LedgerError.h"
#include "ledger/UtcTime.h"

namespace {
struct GroupingWord {
    ReportGrouping By;
    const char* Word;
};
constexpr GroupingWord Words[] = {
    {ReportGrouping::Day, "day"},           {ReportGrouping::Station, "station"},
    {ReportGrouping::Port, "port"},         {ReportGrouping::Item, "item"},
    {ReportGrouping::Firmware, "firmware"}, {ReportGrouping::Chip, "chip"},
    {ReportGrouping::Operator, "operator"}, {ReportGrouping::All, "all"},
};

std::string KeyExpression(SqlEngine engine, ReportGrouping by) {
    switch (by) {
        case ReportGrouping::Day:
            return TimeColumnDay(engine, "started");
        case ReportGrouping::Station:
            return "station";
        case ReportGrouping::Port:  // a socket: the same port name is another socket elsewhere
            return "station || ':' || port";
        case ReportGrouping::Item:
            return "CASE WHEN item_number > 0 THEN CAST(item_number AS TEXT) || ' ' || item_name "
                   "ELSE '' END";
        case ReportGrouping::Firmware:
            return "firmware || CASE WHEN firmware_sha256 = '' THEN '' "
                   "ELSE ' ' || substr(firmware_sha256, 1, 12) END";
        case ReportGrouping::Chip:
            return "chip";
        case ReportGrouping::Operator:
            return "operator";
        case ReportGrouping::All:
            break;
    }
    return "CAST('all' AS TEXT)";
}

// The runs of the report, of table alias 'r': its operations, started within the window.
// The window's bounds are the parameters ?1 and ?2 where they are given.
std::string Condition(SqlEngine engine, const char* r, const ReportRequest& window) {
    const std::string a = std::string(r) + ".";
    std::string c = a + "operation IN (" + ReportOperations + ")";
    int n = 0;
    if (window.Since) c += " AND " + a + "started >= " + TimeParameter(engine, ++n);
    if (window.Until) c += " AND " + a + "started < " + TimeParameter(engine, ++n);
    return c;
}

int64_t Number(const std::string& text) {
    return text.empty() ? 0 : std::stoll(text);
}

std::optional<double> Seconds(const std::string& text) {
    if (text.empty()) return std::nullopt;
    return std::stod(text);
}

// The percentiles of the runs that ended done, per 'grp', from 'ranked' (grp, seconds and k,
// the rank within its group) and 'counts' (grp and done): nearest-rank, the 95th at rank
// ceil(0.95 n), written (95 n + 99) / 100 in integers; the median the mean of the two middle
// ranks. Both engines divide integers alike.
constexpr char Percentiles[] =
    "times AS (\n"
    "  SELECT r.grp,\n"
    "         AVG(CASE WHEN r.k IN ((c.done + 1) / 2, (c.done + 2) / 2) THEN r.seconds END) AS "
    "median,\n"
    "         MAX(CASE WHEN r.k = (95 * c.done + 99) / 100 THEN r.seconds END) AS p95\n"
    "  FROM ranked r JOIN counts c ON c.grp = r.grp\n"
    "  WHERE r.k IN ((c.done + 1) / 2, (c.done + 2) / 2, (95 * c.done + 99) / 100)\n"
    "  GROUP BY r.grp\n"
    ")\n";
}  // namespace

std::optional<ReportGrouping> ParseGrouping(const std::string& word) {
    for (const GroupingWord& w : Words)
        if (word == w.Word) return w.By;
    return std::nullopt;
}

const char* GroupingName(ReportGrouping by) {
    for (const GroupingWord& w : Words)
        if (w.By == by) return w.Word;
    return "all";
}

// A board's first pass is its earliest run in the report: a run without a serial, or one
// with no earlier run of its serial. The earlier run is looked for by an index probe on
// runs_by_serial_pass, which PostgreSQL turns into a hashed anti-join: both far cheaper than a
// window over every run. Each part reads the table itself rather than a shared selection,
// which both engines would first have to copy.
std::string FiguresSql(SqlEngine engine, ReportGrouping by, const ReportRequest& window) {
    const std::string key = KeyExpression(engine, by);
    const std::string runs = "  FROM runs r WHERE " + Condition(engine, "r", window);
    return "WITH counts AS (\n"
           "  SELECT " +
           key + " AS grp, COUNT(*) AS runs, SUM(CASE WHEN code = 0 THEN 1 ELSE 0 END) AS done\n" +
           runs +
           "\n"
           "  GROUP BY 1\n"
           "),\n"
           "firsts AS (\n"
           "  SELECT " +
           key + " AS grp, code\n" + runs +
           " AND r.serial = ''\n"
           "  UNION ALL\n"
           "  SELECT " +
           key + " AS grp, code\n" + runs +
           " AND r.serial <> ''\n"
           "    AND NOT EXISTS (SELECT 1 FROM runs p WHERE p.serial = r.serial AND " +
           Condition(engine, "p", window) +
           "\n"
           "      AND (p.started < r.started OR (p.started = r.started AND p.run_id < "
           "r.run_id)))\n"
           "),\n"
           "boards AS (\n"
           "  SELECT grp, COUNT(*) AS boards, SUM(CASE WHEN code = 0 THEN 1 ELSE 0 END) AS "
           "first_done\n"
           "  FROM firsts GROUP BY grp\n"
           "),\n"
           "ranked AS (\n"
           "  SELECT " +
           key + " AS grp, seconds, ROW_NUMBER() OVER (PARTITION BY " + key +
           " ORDER BY seconds) AS k\n" + runs +
           // "+": all done runs are read anyway, in the table's order; the index on code
           // would fetch each of them once more.
           " AND +r.code = 0\n"
           "),\n" +
           Percentiles +
           "SELECT c.grp, c.runs, c.done, b.boards, b.first_done, t.median, t.p95\n"
           "FROM counts c LEFT JOIN boards b ON b.grp = c.grp LEFT JOIN times t ON t.grp = c.grp";
}

// The seconds of the runs of the whole report that ended done, at ranks first to first +
// count - 1 by their seconds: the percentiles of the whole report are a few ranks of one
// order, which the index runs_by_seconds holds already (code, seconds, and what the window
// asks), so no run is sorted.
std::string TotalTimesSql(SqlEngine engine, const ReportRequest& window, int64_t first,
                          int64_t count) {
    return "SELECT seconds FROM runs r WHERE " + Condition(engine, "r", window) +
           " AND r.code = 0 ORDER BY seconds LIMIT " + std::to_string(count) + " OFFSET " +
           std::to_string(first - 1);
}

std::string FailuresSql(SqlEngine engine, ReportGrouping by, const ReportRequest& window,
                        std::size_t top) {
    return "WITH fails AS (\n"
           "  SELECT " +
           KeyExpression(engine, by) +
           " AS grp, code, cause, MIN(outcome) AS outcome, COUNT(*) AS n\n"
           "  FROM runs r WHERE " +
           Condition(engine, "r", window) +
           " AND r.code <> 0\n"
           "  GROUP BY 1, code, cause\n"
           "),\n"
           "ranked AS (\n"
           "  SELECT grp, code, cause, outcome, n,\n"
           "         ROW_NUMBER() OVER (PARTITION BY grp ORDER BY n DESC, code, cause) AS k\n"
           "  FROM fails\n"
           ")\n"
           "SELECT grp, code, cause, outcome, n FROM ranked WHERE k <= " +
           std::to_string(top) + " ORDER BY grp, k";
}

namespace {
std::vector<std::string> Parameters(const ReportRequest& r) {
    std::vector<std::string> p;
    if (r.Since) p.push_back(UtcText(*r.Since));
    if (r.Until) p.push_back(UtcText(*r.Until));
    return p;
}

// Code, cause, text and count of the most frequent failures per group.
std::map<std::string, std::vector<FailureCount>> Failures(ISqlSource& ledger, ReportGrouping by,
                                                          const ReportRequest& r) {
    std::map<std::string, std::vector<FailureCount>> failures;
    if (r.TopFailures == 0) return failures;
    for (const SqlRow& row :
         ledger.Query(FailuresSql(ledger.Engine(), by, r, r.TopFailures), Parameters(r)))
        failures[row.at(0)].push_back(
            {static_cast<int32_t>(Number(row.at(1))), row.at(3), row.at(2), Number(row.at(4))});
    return failures;
}

// Nearest rank, as for the groups: the 95th at rank ceil(0.95 n), the median the mean of
// the two middle ranks.
void TotalTimes(ISqlSource& ledger, const ReportRequest& request, ReportGroup& total) {
    const int64_t n = total.Done;
    const std::vector<std::string> parameters = Parameters(request);
    const std::vector<SqlRow> middle = ledger.Query(
        TotalTimesSql(ledger.Engine(), request, (n + 1) / 2, n % 2 == 0 ? 2 : 1), parameters);
    const std::vector<SqlRow> p95 =
        ledger.Query(TotalTimesSql(ledger.Engine(), request, (95 * n + 99) / 100, 1), parameters);
    // Fewer done runs than counted: the ledger took records in between; no figure is better
    // than a wrong one.
    if (middle.empty() || p95.empty()) return;
    double sum = 0;
    for (const SqlRow& row : middle) sum += std::stod(row.at(0));
    total.MedianSeconds = sum / static_cast<double>(middle.size());
    total.P95Seconds = Seconds(p95[0].at(0));
}

Report Build(ISqlSource& ledger, const ReportRequest& request) {
    Report report;
    report.Request = request;
    const std::vector<std::string> parameters = Parameters(request);
    auto failures = Failures(ledger, request.By, request);
    for (const SqlRow& row :
         ledger.Query(FiguresSql(ledger.Engine(), request.By, request), parameters)) {
        ReportGroup g;
        g.Key = row.at(0);
        g.Runs = Number(row.at(1));
        g.Done = Number(row.at(2));
        g.Failed = g.Runs - g.Done;
        g.Boards = Number(row.at(3));
        g.FirstPassDone = Number(row.at(4));
        g.MedianSeconds = Seconds(row.at(5));
        g.P95Seconds = Seconds(row.at(6));
        g.Failures = std::move(failures[g.Key]);
        report.Groups.push_back(std::move(g));
    }
    std::sort(report.Groups.begin(), report.Groups.end(),
              [](const ReportGroup& a, const ReportGroup& b) { return NaturalLess(a.Key, b.Key); });

    // Each run is in one group and each board's first pass too: the whole report's counts
    // are the groups' sums. Its percentiles and failures are counted over all its runs.
    ReportGroup& total = report.Total;
    if (request.By == ReportGrouping::All) {
        if (!report.Groups.empty()) total = report.Groups.front();
    } else {
        for (const ReportGroup& g : report.Groups) {
            total.Runs += g.Runs;
            total.Done += g.Done;
            total.Boards += g.Boards;
            total.FirstPassDone += g.FirstPassDone;
        }
        total.Failed = total.Runs - total.Done;
        if (total.Done > 0) TotalTimes(ledger, request, total);
        if (total.Failed > 0)
            total.Failures = std::move(Failures(ledger, ReportGrouping::All, request)["all"]);
    }
    total.Key = "all";
    return report;
}
}  // namespace

Report BuildReport(ISqlSource& ledger, const ReportRequest& request) {
    try {
        return Build(ledger, request);
    } catch (const std::invalid_argument& e) {
        throw LedgerError(std::string("the ledger answered the report with a number it cannot "
                                      "read: ") +
                          e.what());
    } catch (const std::out_of_range& e) {
        throw LedgerError(std::string("the ledger answered the report with a number out of "
                                      "range: ") +
                          e.what());
    }
}

bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    const auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && digit(a[ei])) ++ei;
            while (ej < b.size() && digit(b[ej])) ++ej;
            // Compare the runs by value: without leading zeros, the longer is larger.
            std::size_t si = i, sj = j;
            while (si + 1 < ei && a[si] == '0') ++si;
            while (sj + 1 < ej && b[sj] == '0') ++sj;
            if (ei - si != ej - sj) return ei - si < ej - sj;
            const int c = a.compare(si, ei - si, b, sj, ej - sj);
            if (c != 0) return c < 0;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}
