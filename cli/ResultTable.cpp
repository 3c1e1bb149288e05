#include "cli/ResultTable.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "cli/Command.h"

namespace {
constexpr std::size_t Columns = 5;
using Row = std::array<std::string, Columns>;
constexpr std::size_t SecondsColumn = 3;

std::string Seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", s);
    return text;
}

Row RowOf(const PortResult& r) {
    const RunOutcome& o = r.Outcome;
    return {r.Port, o.Chip.empty() ? "-" : o.Chip, o.Success ? "done" : o.Message,
            Seconds(o.Seconds), o.EepromCopyPath.empty() ? "-" : o.EepromCopyPath};
}
}  // namespace

std::string ResultTable(const std::vector<PortResult>& results) {
    std::vector<Row> rows{{"port", "chip", "outcome", "seconds", "eeprom copy"}};
    for (const PortResult& r : results) rows.push_back(RowOf(r));
    std::array<std::size_t, Columns> width{};
    for (const Row& row : rows)
        for (std::size_t c = 0; c < Columns; ++c) width[c] = std::max(width[c], row[c].size());
    std::string table;
    for (const Row& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < Columns; ++c) {
            const std::string pad(width[c] - row[c].size(), ' ');
            const bool last = c + 1 == Columns;
            line += c == SecondsColumn ? pad + row[c] : row[c] + (last ? "" : pad);
            if (!last) line += "  ";
        }
        table += line + "\n";
    }
    return table;
}

int ExitCodeOf(const RunOutcome& o) {
    if (o.Success) return ExitOk;
    return o.DeviceTouched ? ExitDeviceNeedsRun : ExitFailure;
}

int ExitCodeOfAll(const std::vector<RunOutcome>& outcomes) {
    int code = ExitOk;
    for (const RunOutcome& o : outcomes) code = std::max(code, ExitCodeOf(o));
    return code;
}
