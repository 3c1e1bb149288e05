#pragma once
// Run log files stamp each line with its UTC time, "2026-12-10T17:46:11.225Z ", before the
// line the run reported. These give back the reported lines, and a line that lacks its
// stamp as "<no stamp> " and the line, so that a comparison with the reported ones fails.

#include <cctype>
#include <sstream>
#include <string>

inline bool HasLogStamp(const std::string& line) {
    static const std::string form = "dddd-dd-ddTdd:dd:dd.dddZ ";
    if (line.size() < form.size()) return false;
    for (std::size_t i = 0; i < form.size(); ++i) {
        const bool ok = form[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0
                                       : line[i] == form[i];
        if (!ok) return false;
    }
    return true;
}

inline std::string Unstamped(const std::string& line) {
    return HasLogStamp(line) ? line.substr(25) : "<no stamp> " + line;
}

// Every line of the text, each without its stamp.
inline std::string WithoutStamps(const std::string& text) {
    std::istringstream in(text);
    std::string out;
    for (std::string line; std::getline(in, line);) out += Unstamped(line) + "\n";
    return out;
}
