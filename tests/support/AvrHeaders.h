#pragma once
// What avr-libc's per-chip headers (avr/io*.h) say about a chip's fuse and lock bits: every
// "#define FUSE_<NAME> ... ~_BV(n)" under its "Low/High/Extended Fuse Byte" comment, the
// number of fuse bytes, and the lock-bit macros. The tests hold the system's own tables to it.

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include "link/Fuses.h"

struct AvrHeaderFacts {
    std::set<std::tuple<FuseByte, int, std::string>> FuseBits;  // byte, bit, name
    int FuseBytes = 0;                                          // FUSE_MEMORY_SIZE
    std::set<std::string> Defined;                              // every macro defined
};

// "ATmega644P" -> <include>/avr/iom644p.h, "ATtiny13" -> iotn13.h, "AT90S2313" -> io2313.h.
inline std::string AvrHeaderFor(const std::string& include, const std::string& chip) {
    std::string name;
    for (const char c : chip)
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::pair<const char*, const char*> prefixes[] = {
        {"atmega", "iom"}, {"attiny", "iotn"}, {"at90s", "io"}};
    for (const auto& [family, file] : prefixes)
        if (name.rfind(family, 0) == 0)
            return include + "/avr/" + file + name.substr(std::string(family).size()) + ".h";
    return {};
}

inline AvrHeaderFacts ReadAvrHeader(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path << " is missing: scripts/setup installs avr-libc";
    AvrHeaderFacts facts;
    std::optional<FuseByte> section;
    const std::pair<const char*, FuseByte> sections[] = {{"Low Fuse Byte", FuseByte::Lo},
                                                         {"High Fuse Byte", FuseByte::Hi},
                                                         {"Extended Fuse Byte", FuseByte::Ex}};
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("/*") != std::string::npos)
            for (const auto& [title, fuse] : sections)
                if (line.find(title) != std::string::npos) section = fuse;
        std::istringstream words(line);
        std::string define, name, value;
        words >> define;
        if (define == "#") {  // "# define"
            words >> define;
            define.insert(0, "#");
        }
        if (define != "#define") continue;
        words >> name;
        facts.Defined.insert(name);
        std::getline(words, value);
        if (name == "FUSE_MEMORY_SIZE") facts.FuseBytes = std::stoi(value);
        const std::size_t bv = value.find("_BV(");
        if (name.rfind("FUSE_", 0) != 0 || value.find('~') == std::string::npos ||
            bv == std::string::npos)
            continue;
        EXPECT_TRUE(section) << path << ": " << line << " stands in no fuse byte";
        std::size_t at = bv + 4;
        while (at < value.size() && value[at] == ' ') ++at;
        if (section && at < value.size() && value[at] >= '0' && value[at] <= '7')
            facts.FuseBits.insert({*section, value[at] - '0', name.substr(5)});
    }
    return facts;
}
