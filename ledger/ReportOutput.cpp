#include "ledger/ReportOutput.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <vector>

#include "ledger/UtcTime.h"

namespace {
constexpr char TotalKey[] = "(all)";

std::string Fixed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Percent(int64_t part, int64_t whole) {
    if (whole == 0) return "-";
    return Fixed(100.0 * static_cast<double>(part) / static_cast<double>(whole), 1) + "%";
}

std::string Ratio(int64_t part, int64_t whole) {
    if (whole == 0) return "";
    return Fixed(static_cast<double>(part) / static_cast<double>(whole), 4);
}

std::string SecondsText(const std::optional<double>& s, int decimals, const char* none) {
    return s ? Fixed(*s, decimals) : none;
}

std::string Window(const ReportRequest& r) {
    if (!r.Since && !r.Until) return "all runs";
    std::string text = "runs started";
    if (r.Since) text += " from " + UtcText(*r.Since);
    if (r.Until) text += " until " + UtcText(*r.Until);
    return text;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::vector<std::string> Cells(const ReportGroup& g, const std::string& key) {
    return {key.empty() ? "(none)" : key,
            std::to_string(g.Runs),
            std::to_string(g.Done),
            std::to_string(g.Failed),
            std::to_string(g.Boards),
            Percent(g.Done, g.Runs),
            Percent(g.FirstPassDone, g.Boards),
            SecondsText(g.MedianSeconds, 1, "-"),
            SecondsText(g.P95Seconds, 1, "-"),
            FailuresText(g)};
}

nlohmann::ordered_json GroupJson(const ReportGroup& g) {
    nlohmann::ordered_json j;
    j["group"] = g.Key;
    j["runs"] = g.Runs;
    j["done"] = g.Done;
    j["failed"] = g.Failed;
    j["boards"] = g.Boards;
    j["yield"] = g.Runs ? nlohmann::ordered_json(g.Yield()) : nlohmann::ordered_json();
    j["first_pass_yield"] =
        g.Boards ? nlohmann::ordered_json(g.FirstPassYield()) : nlohmann::ordered_json();
    j["median_seconds"] =
        g.MedianSeconds ? nlohmann::ordered_json(*g.MedianSeconds) : nlohmann::ordered_json();
    j["p95_seconds"] =
        g.P95Seconds ? nlohmann::ordered_json(*g.P95Seconds) : nlohmann::ordered_json();
    j["failures"] = nlohmann::ordered_json::array();
    for (const FailureCount& f : g.Failures)
        j["failures"].push_back(
            {{"code", f.Code}, {"outcome", f.Outcome}, {"cause", f.Cause}, {"count", f.Count}});
    return j;
}
}  // namespace

std::string FailuresText(const ReportGroup& group) {
    std::string text;
    for (const FailureCount& f : group.Failures) {
        if (!text.empty()) text += "; ";
        text += std::to_string(f.Count) + "x " + std::to_string(f.Code) + " " + f.Outcome;
        if (!f.Cause.empty()) text += " (" + f.Cause + ")";
    }
    return text;
}

std::string ReportText(const Report& report) {
    const ReportRequest& r = report.Request;
    std::string text = "report by " + std::string(GroupingName(r.By)) + ", " + Window(r) +
                       (r.By == ReportGrouping::Day ? " (days in UTC)" : "") + "\n";
    if (report.Total.Runs == 0) return text + "no runs\n";
    std::vector<std::vector<std::string>> rows = {{GroupingName(r.By), "runs", "done", "failed",
                                                   "boards", "yield", "first pass", "median s",
                                                   "p95 s", "most frequent failures"}};
    if (r.By != ReportGrouping::All)
        for (const ReportGroup& g : report.Groups) rows.push_back(Cells(g, g.Key));
    rows.push_back(Cells(report.Total, TotalKey));
    std::vector<std::size_t> width(rows[0].size(), 0);
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); ++c) {
            const std::size_t pad = width[c] - row[c].size();
            if (c == 0)
                line += row[c] + std::string(pad, ' ');
            else if (c + 1 == row.size())
                line += "  " + row[c];
            else
                line += "  " + std::string(pad, ' ') + row[c];  // numbers to the right
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        text += line + "\n";
    }
    return text;
}

std::string ReportCsv(const Report& report) {
    std::string text = std::string(GroupingName(report.Request.By)) +
                       ",runs,done,failed,boards,yield,first_pass_yield,median_seconds,"
                       "p95_seconds,failures\r\n";
    const auto line = [&](const ReportGroup& g, const std::string& key) {
        const std::vector<std::string> cells = {key,
                                                std::to_string(g.Runs),
                                                std::to_string(g.Done),
                                                std::to_string(g.Failed),
                                                std::to_string(g.Boards),
                                                Ratio(g.Done, g.Runs),
                                                Ratio(g.FirstPassDone, g.Boards),
                                                SecondsText(g.MedianSeconds, 3, ""),
                                                SecondsText(g.P95Seconds, 3, ""),
                                                FailuresText(g)};
        std::string l;
        for (const std::string& c : cells) l += (l.empty() ? "" : ",") + CsvField(c);
        text += l + "\r\n";
    };
    if (report.Request.By != ReportGrouping::All)
        for (const ReportGroup& g : report.Groups) line(g, g.Key);
    if (report.Total.Runs > 0) line(report.Total, TotalKey);
    return text;
}

std::string ReportJson(const Report& report) {
    nlohmann::ordered_json j;
    const ReportRequest& r = report.Request;
    j["by"] = GroupingName(r.By);
    j["since"] = r.Since ? nlohmann::ordered_json(UtcText(*r.Since)) : nlohmann::ordered_json();
    j["until"] = r.Until ? nlohmann::ordered_json(UtcText(*r.Until)) : nlohmann::ordered_json();
    j["groups"] = nlohmann::ordered_json::array();
    if (r.By != ReportGrouping::All)
        for (const ReportGroup& g : report.Groups) j["groups"].push_back(GroupJson(g));
    j["total"] = GroupJson(report.Total);
    return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}
