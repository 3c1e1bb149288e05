#pragma once
// avr-libc's per-chip headers as the reference for the fuse tables: which header describes a
// DeviceTable chip, which fuse byte a "/* High Fuse Byte */" comment opens, and the FUSE_
// definitions of each byte ("#define FUSE_SPIEN (unsigned char)~_BV(5)": SPIEN is bit 5).
// Q40_AVR_INCLUDE names the folder holding avr/ (scripts/setup installs avr-libc).

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "link/Fuses.h"

namespace avrlibc {

// "ATmega644P" -> iom644p.h, "ATtiny13" -> iotn13.h, "AT90S2313" -> io2313.h.
inline std::string HeaderFor(const std::string& chip) {
    std::string name;
    for (const char c : chip)
        name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::pair<const char*, const char*> prefixes[] = {
        {"atmega", "iom"}, {"attiny", "iotn"}, {"at90s", "io"}};
    for (const auto& [family, file] : prefixes)
        if (name.rfind(family, 0) == 0)
            return std::string(Q40_AVR_INCLUDE) + "/avr/" + file +
                   name.substr(std::string(family).size()) + ".h";
    return {};
}

// The fuse byte a line such as "/* High Fuse Byte */" opens, if it is one.
inline std::optional<FuseByte> SectionOf(const std::string& line) {
    const std::pair<const char*, FuseByte> names[] = {{"Low Fuse Byte", FuseByte::Lo},
                                                      {"High Fuse Byte", FuseByte::Hi},
                                                      {"Extended Fuse Byte", FuseByte::Ex}};
    if (line.find("/*") == std::string::npos) return std::nullopt;
    for (const auto& [name, fuse] : names)
        if (line.find(name) != std::string::npos) return fuse;
    return std::nullopt;
}

// The words of a "#define NAME ..." or "# define NAME ..." line after the name's start.
inline std::optional<std::string> DefinedName(const std::string& line) {
    std::istringstream words(line);
    std::string hash, define, name;
    words >> hash;
    if (hash == "#") words >> define;
    if (hash != "#define" && !(hash == "#" && define == "define")) return std::nullopt;
    words >> name;
    return name;
}

struct FuseBitDefinition {
    FuseByte Fuse;
    std::string Name;  // "FUSE_SPIEN"
    int Bit;           // 0 to 7
};

// Every "FUSE_x ... ~_BV(n)" definition of the header with the fuse byte it stands in; one
// outside a fuse-byte section fails the test.
inline std::vector<FuseBitDefinition> FuseBitDefinitions(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path << " is missing: scripts/setup installs avr-libc";
    std::vector<FuseBitDefinition> definitions;
    std::optional<FuseByte> fuse;
    std::string line;
    while (std::getline(in, line)) {
        if (const auto opened = SectionOf(line)) {
            fuse = opened;
            continue;
        }
        const auto name = DefinedName(line);
        if (!name || name->rfind("FUSE_", 0) != 0) continue;
        const std::size_t tilde = line.find('~');
        const std::size_t bv = line.find("_BV(", tilde == std::string::npos ? 0 : tilde);
        if (tilde == std::string::npos || bv == std::string::npos) continue;  // FUSE_MEMORY_SIZE
        std::size_t at = bv + 4;
        while (at < line.size() && line[at] == ' ') ++at;
        if (at >= line.size() || line[at] < '0' || line[at] > '7') continue;
        EXPECT_TRUE(fuse) << path << ": " << line << " stands in no fuse byte";
        if (fuse) definitions.push_back({*fuse, *name, line[at] - '0'});
    }
    return definitions;
}

// The value of "#define FUSE_MEMORY_SIZE n", or nothing.
inline std::optional<int> FuseMemorySize(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path << " is missing: scripts/setup installs avr-libc";
    std::string line;
    while (std::getline(in, line)) {
        if (DefinedName(line) != "FUSE_MEMORY_SIZE") continue;
        std::istringstream words(line.substr(line.find("FUSE_MEMORY_SIZE") + 16));
        int size = -1;
        if (words >> size) return size;
    }
    return std::nullopt;
}

}  // namespace avrlibc
