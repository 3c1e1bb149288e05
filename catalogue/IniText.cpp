#include "catalogue/IniText.h"

#include "catalogue/TextCase.h"

namespace {
constexpr std::string_view Blanks = " \t\v\f\r\n";

std::string_view Trim(std::string_view s) {
    const auto first = s.find_first_not_of(Blanks);
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(Blanks);
    return s.substr(first, last - first + 1);
}

std::string_view Unquote(std::string_view s) {
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        return s.substr(1, s.size() - 2);
    return s;
}

// At most maxChars code points; never splits a UTF-8 sequence.
std::string_view CutChars(std::string_view s, std::size_t maxChars) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const bool startsChar = (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80;
        if (startsChar && chars++ == maxChars) return s.substr(0, i);
    }
    return s;
}

// Splits off the next line; handles LF, CRLF and CR.
std::string_view NextLine(std::string_view& rest) {
    const auto end = rest.find_first_of("\r\n");
    const std::string_view line = rest.substr(0, end);
    if (end == std::string_view::npos) {
        rest = {};
    } else {
        const bool crlf = rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n';
        rest.remove_prefix(end + (crlf ? 2 : 1));
    }
    return line;
}

// The name inside "[name]", or nothing when the line is no section header.
std::optional<std::string_view> SectionName(std::string_view line) {
    if (line.empty() || line.front() != '[') return std::nullopt;
    const auto close = line.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(line.substr(1, close - 1));
}
}  // namespace

std::optional<std::string> FindIniValue(std::string_view text, std::string_view section,
                                        std::string_view key) {
    bool inSection = false;
    while (!text.empty()) {
        const std::string_view line = Trim(NextLine(text));
        if (line.empty() || line.front() == ';') continue;
        if (const auto name = SectionName(line)) {
            if (inSection) return std::nullopt;  // the first occurrence of the section ended
            inSection = EqualNoCase(*name, section);
            continue;
        }
        if (!inSection) continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        if (EqualNoCase(Trim(line.substr(0, eq)), key))
            return std::string(CutChars(Unquote(Trim(line.substr(eq + 1))), MaxIniValueChars));
    }
    return std::nullopt;
}
