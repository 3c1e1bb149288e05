#include "cli/StationView.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>

namespace {
const char* const Green = "\x1b[1;32m";
const char* const Red = "\x1b[1;31m";
const char* const Yellow = "\x1b[1;33m";
const char* const Plain = "\x1b[0m";
constexpr int GlyphRows = 3;

// Letters three rows high in half blocks, each three columns wide: large enough to read from
// the next bench.
const std::map<char, std::array<const char*, GlyphRows>>& Glyphs() {
    static const std::map<char, std::array<const char*, GlyphRows>> glyphs = {
        {'P', {"█▀█", "█▀▀", "▀  "}}, {'A', {"▄▀▄", "█▀█", "▀ ▀"}}, {'S', {"█▀▀", "▀▀█", "▀▀▀"}},
        {'F', {"█▀▀", "█▀ ", "▀  "}}, {'I', {"▀█▀", " █ ", "▀▀▀"}}, {'L', {"█  ", "█  ", "▀▀▀"}},
        {'O', {"█▀█", "█ █", "▀▀▀"}}, {' ', {"   ", "   ", "   "}},
    };
    return glyphs;
}

std::array<std::string, GlyphRows> LargeWord(const std::string& word) {
    std::array<std::string, GlyphRows> rows;
    for (const char c : word) {
        const auto glyph = Glyphs().find(c);
        for (int r = 0; r < GlyphRows; ++r)
            rows[r] += std::string(glyph == Glyphs().end() ? "   " : glyph->second[r]) + " ";
    }
    return rows;
}

// The first 'width' screen characters of the line, escape sequences kept whole.
std::string CutToWidth(const std::string& line, std::size_t width) {
    std::string out;
    std::size_t shown = 0;
    for (std::size_t i = 0; i < line.size();) {
        if (line[i] == '\x1b') {
            const std::size_t end = line.find_first_of("mABCDJK", i);
            const std::size_t stop = end == std::string::npos ? line.size() : end + 1;
            out += line.substr(i, stop - i);
            i = stop;
            continue;
        }
        std::size_t n = 1;
        while (i + n < line.size() && (static_cast<unsigned char>(line[i + n]) & 0xC0) == 0x80) ++n;
        if (shown == width) {
            i += n;
            continue;
        }
        out += line.substr(i, n);
        ++shown;
        i += n;
    }
    return out;
}

// The text in lines of at most 'width' characters, broken between words where it can be.
std::vector<std::string> Wrapped(const std::string& text, std::size_t width) {
    std::vector<std::string> lines;
    if (width == 0) return lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t newline = text.find('\n', start);
        std::string rest =
            text.substr(start, newline == std::string::npos ? std::string::npos : newline - start);
        start = newline == std::string::npos ? text.size() : newline + 1;
        while (rest.size() > width) {
            std::size_t cut = rest.rfind(' ', width);
            if (cut == std::string::npos || cut == 0) cut = width;
            lines.push_back(rest.substr(0, cut));
            rest = rest.substr(std::min(rest.size(), cut + (rest[cut] == ' ' ? 1 : 0)));
        }
        lines.push_back(rest);
    }
    return lines;
}

std::string Percent(int part, int whole) {
    if (whole == 0) return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * part / whole);
    return text;
}

void AddBlock(std::vector<std::string>& lines, const SocketView& s, std::size_t width) {
    std::string head = "── " + s.Port + " ";
    if (!s.Chip.empty()) head += "── " + s.Chip + " ";
    head += "── " + SocketCountsText(s.Counts) + " ";
    lines.push_back(head);
    if (s.Alarm) lines.push_back(std::string(Red) + "!!! " + AlarmText(s.Port) + Plain);
    const char* colour = s.Last.Result == LastBoard::Pass   ? Green
                         : s.Last.Result == LastBoard::Fail ? Red
                                                            : Yellow;
    const char* word = s.Last.Result == LastBoard::Pass   ? "PASS"
                       : s.Last.Result == LastBoard::Fail ? "FAIL"
                                                          : "OFF";
    if (s.Last.Result != LastBoard::None) {
        const auto rows = LargeWord(word);
        std::vector<std::string> beside;
        if (s.Last.Result == LastBoard::TakenOff) beside.push_back("board taken off");
        const std::size_t room = width > 20 ? width - 20 : 1;
        for (const std::string& l : Wrapped(s.Last.Text, room)) beside.push_back(l);
        if (!s.Last.Cause.empty()) beside.push_back("cause: " + s.Last.Cause);
        const std::size_t rowsShown = std::max<std::size_t>(GlyphRows, beside.size());
        for (std::size_t r = 0; r < rowsShown; ++r) {
            std::string line = "  ";
            line += r < GlyphRows ? std::string(colour) + rows[r] + Plain
                                  : std::string(ScreenWidth(rows[0]), ' ');
            if (r < beside.size()) line += "  " + std::string(colour) + beside[r] + Plain;
            lines.push_back(line);
        }
    }
    PortLineParts now = s.Now;
    now.Port = "now:";
    now.Chip.clear();
    now.Counts.clear();
    lines.push_back("  " + FitPortLine(now, 4, static_cast<int>(width) - 1));
}
}  // namespace

std::string AlarmText(const std::string& port) {
    return port + ": " + std::to_string(AlarmAfterFailures) +
           " boards in a row failed: check the box, its cable and the adapter";
}

std::string SocketCountsText(const SocketCounts& c) {
    return std::to_string(c.Done) + " done, " + std::to_string(c.Failed) + " failed, " +
           std::to_string(c.TakenOff) + " taken off, yield " + Percent(c.Done, c.Done + c.Failed);
}

std::size_t ScreenWidth(const std::string& line) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\x1b') {
            const std::size_t end = line.find_first_of("mABCDJK", i);
            if (end == std::string::npos) break;
            i = end;
            continue;
        }
        if ((static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) ++width;
    }
    return width;
}

std::vector<std::string> StationViewLines(const std::vector<SocketView>& sockets,
                                          const std::deque<std::string>& events, int columns) {
    const std::size_t width = static_cast<std::size_t>(std::max(columns - 1, 10));
    std::vector<std::string> lines;
    SocketCounts total;
    for (const SocketView& s : sockets) {
        AddBlock(lines, s, width);
        total.Done += s.Counts.Done;
        total.Failed += s.Counts.Failed;
        total.TakenOff += s.Counts.TakenOff;
    }
    lines.push_back("══ all sockets: " + SocketCountsText(total));
    if (!events.empty()) lines.emplace_back("last events:");
    for (const std::string& e : events) lines.push_back("  " + e);
    for (std::string& l : lines)
        if (ScreenWidth(l) > width) l = CutToWidth(l, width) + Plain;
    return lines;
}
