#include "catalogue/IniText.h"

#include <algorithm>
#include <optional>

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view Unquote(std::string_view s) {
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        return s.substr(1, s.size() - 2);
    return s;
}

// The name with its ASCII letters in lower case: the form names are compared in.
std::string Folded(std::string_view name) {
    std::string folded(name);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

// Splits off the next line; handles LF, CRLF and CR.
std::string_view NextLine(std::string_view& rest) {
    std::size_t end = 0;
    while (end < rest.size() && rest[end] != '\n' && rest[end] != '\r') ++end;
    const std::string_view line = rest.substr(0, end);
    const bool crlf = end + 1 < rest.size() && rest[end] == '\r' && rest[end + 1] == '\n';
    rest.remove_prefix(std::min(rest.size(), end + (crlf ? 2 : 1)));
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

IniSections IniSections::Parse(std::string_view text) {
    IniSections ini;
    Keys* current = nullptr;  // null outside a section and in a section's later occurrences
    while (!text.empty()) {
        const std::string_view line = Trim(NextLine(text));
        if (line.empty() || line.front() == ';') continue;
        if (const auto name = SectionName(line)) {
            const auto [it, first] = ini.Sections.try_emplace(Folded(*name));
            current = first ? &it->second : nullptr;
            continue;
        }
        const auto eq = line.find('=');
        if (!current || eq == std::string_view::npos) continue;
        // try_emplace keeps the first occurrence of a key.
        current->try_emplace(Folded(Trim(line.substr(0, eq))),
                             CutIniValue(Unquote(Trim(line.substr(eq + 1)))));
    }
    return ini;
}

const std::string* IniSections::Find(std::string_view section, std::string_view key) const {
    const auto s = Sections.find(Folded(section));
    if (s == Sections.end()) return nullptr;
    const auto k = s->second.find(Folded(key));
    return k == s->second.end() ? nullptr : &k->second;
}

std::string CutIniValue(std::string_view utf8) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const bool startsChar = (static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80;
        if (startsChar && chars++ == MaxIniValueChars) return std::string(utf8.substr(0, i));
    }
    return std::string(utf8);
}
