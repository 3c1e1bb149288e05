#include "ledger/LedgerReport.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "ledger/LedgerError.h"
#include "ledger/UtcTime.h"

namespace {
constexpr char Earliest[] = "0001-01-01T00:00:00.000Z";
constexpr char Latest[] = "9999-12-31T23:59:59.999Z";

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

// The runs of the report: its operations, started in [?1, ?2), with their group.
std::string Selection(SqlEngine engine, ReportGrouping by) {
    return "sel AS (\n"
           "  SELECT " +
           KeyExpression(engine, by) +
           " AS grp, code, outcome, cause, seconds, started, run_id,\n"
           "         CASE WHEN serial = '' THEN CAST(run_id AS TEXT) ELSE serial END AS board\n"
           "  FROM runs\n"
           "  WHERE operation IN (" +
           ReportOperations + ")\n    AND started >= " + TimeParameter(engine, 1) +
           " AND started < " + TimeParameter(engine, 2) + "\n)";
}

int64_t Number(const std::string& text) {
    return text.empty() ? 0 : std::stoll(text);
}

std::optional<double> Seconds(const std::string& text) {
    if (text.empty()) return std::nullopt;
    return std::stod(text);
}
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

// A board's first pass is its earliest run in the report; the percentiles are nearest-rank
// (the 95th is the value at rank ceil(0.95 n), written (95 n + 99) / 100 in integers), the
// median the mean of the two middle ranks. Both engines divide integers alike.
std::string FiguresSql(SqlEngine engine, ReportGrouping by) {
    return "WITH " + Selection(engine, by) +
           ",\n"
           "passes AS (\n"
           "  SELECT grp, code, ROW_NUMBER() OVER (PARTITION BY board ORDER BY started, run_id) "
           "AS pass\n"
           "  FROM sel\n"
           "),\n"
           "counts AS (\n"
           "  SELECT grp, COUNT(*) AS runs,\n"
           "         SUM(CASE WHEN code = 0 THEN 1 ELSE 0 END) AS done,\n"
           "         SUM(CASE WHEN pass = 1 THEN 1 ELSE 0 END) AS boards,\n"
           "         SUM(CASE WHEN pass = 1 AND code = 0 THEN 1 ELSE 0 END) AS first_done\n"
           "  FROM passes GROUP BY grp\n"
           "),\n"
           "ranked AS (\n"
           "  SELECT grp, seconds,\n"
           "         ROW_NUMBER() OVER (PARTITION BY grp ORDER BY seconds) AS k,\n"
           "         COUNT(*) OVER (PARTITION BY grp) AS n\n"
           "  FROM sel WHERE code = 0\n"
           "),\n"
           "times AS (\n"
           "  SELECT grp,\n"
           "         AVG(CASE WHEN k = (n + 1) / 2 OR k = (n + 2) / 2 THEN seconds END) AS "
           "median,\n"
           "         MAX(CASE WHEN k = (95 * n + 99) / 100 THEN seconds END) AS p95\n"
           "  FROM ranked GROUP BY grp\n"
           ")\n"
           "SELECT c.grp, c.runs, c.done, c.boards, c.first_done, t.median, t.p95\n"
           "FROM counts c LEFT JOIN times t ON t.grp = c.grp";
}

std::string FailuresSql(SqlEngine engine, ReportGrouping by, std::size_t top) {
    return "WITH " + Selection(engine, by) +
           ",\n"
           "fails AS (\n"
           "  SELECT grp, code, cause, MIN(outcome) AS outcome, COUNT(*) AS n\n"
           "  FROM sel WHERE code <> 0 GROUP BY grp, code, cause\n"
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
std::vector<ReportGroup> Groups(ISqlSource& ledger, ReportGrouping by, const ReportRequest& r) {
    const std::vector<std::string> window = {r.Since ? UtcText(*r.Since) : Earliest,
                                             r.Until ? UtcText(*r.Until) : Latest};
    std::map<std::string, ReportGroup> groups;
    for (const SqlRow& row : ledger.Query(FiguresSql(ledger.Engine(), by), window)) {
        ReportGroup& g = groups[row.at(0)];
        g.Key = row[0];
        g.Runs = Number(row.at(1));
        g.Done = Number(row.at(2));
        g.Failed = g.Runs - g.Done;
        g.Boards = Number(row.at(3));
        g.FirstPassDone = Number(row.at(4));
        g.MedianSeconds = Seconds(row.at(5));
        g.P95Seconds = Seconds(row.at(6));
    }
    if (r.TopFailures > 0)
        for (const SqlRow& row :
             ledger.Query(FailuresSql(ledger.Engine(), by, r.TopFailures), window)) {
            const auto g = groups.find(row.at(0));
            if (g == groups.end()) continue;
            g->second.Failures.push_back(
                {static_cast<int32_t>(Number(row.at(1))), row.at(3), row.at(2), Number(row.at(4))});
        }
    std::vector<ReportGroup> list;
    for (auto& entry : groups) list.push_back(std::move(entry.second));
    std::sort(list.begin(), list.end(),
              [](const ReportGroup& a, const ReportGroup& b) { return NaturalLess(a.Key, b.Key); });
    return list;
}
}  // namespace

Report BuildReport(ISqlSource& ledger, const ReportRequest& request) {
    Report report;
    report.Request = request;
    try {
        report.Groups = Groups(ledger, request.By, request);
        if (request.By == ReportGrouping::All) {
            if (!report.Groups.empty()) report.Total = report.Groups.front();
        } else {
            const std::vector<ReportGroup> total = Groups(ledger, ReportGrouping::All, request);
            if (!total.empty()) report.Total = total.front();
        }
    } catch (const std::invalid_argument& e) {
        throw LedgerError(std::string("the ledger answered the report with a number it cannot "
                                      "read: ") +
                          e.what());
    } catch (const std::out_of_range& e) {
        throw LedgerError(std::string("the ledger answered the report with a number out of "
                                      "range: ") +
                          e.what());
    }
    report.Total.Key = "all";
    return report;
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
