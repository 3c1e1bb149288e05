// The ISP lock-out guard, held against the fuse definitions of avr-libc's per-chip headers
// (FUSE_SPIEN, FUSE_RSTDISBL, FUSE_DWEN as ~_BV(n) under "Low/High/Extended Fuse Byte").
#include "programming/IspLockout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include "link/DeviceTable.h"
#include "link/ProgError.h"

namespace {
using Bit = std::tuple<FuseByte, int, LockoutBit>;

// "ATmega644P" -> iom644p.h, "ATtiny13" -> iotn13.h, "AT90S2313" -> io2313.h.
std::string HeaderFor(const std::string& chip) {
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
std::optional<FuseByte> SectionOf(const std::string& line) {
    const std::pair<const char*, FuseByte> names[] = {{"Low Fuse Byte", FuseByte::Lo},
                                                      {"High Fuse Byte", FuseByte::Hi},
                                                      {"Extended Fuse Byte", FuseByte::Ex}};
    if (line.find("/*") == std::string::npos) return std::nullopt;
    for (const auto& [name, fuse] : names)
        if (line.find(name) != std::string::npos) return fuse;
    return std::nullopt;
}

// "#define FUSE_SPIEN (unsigned char)~_BV(5)" -> SPIEN in bit 5.
std::optional<std::pair<LockoutBit, int>> DefinitionOf(const std::string& line) {
    std::istringstream words(line);
    std::string hash, define, name;
    words >> hash;
    if (hash == "#") words >> define;
    if (hash != "#define" && !(hash == "#" && define == "define")) return std::nullopt;
    words >> name;
    const std::pair<const char*, LockoutBit> kinds[] = {{"FUSE_SPIEN", LockoutBit::Spien},
                                                        {"FUSE_RSTDISBL", LockoutBit::Rstdisbl},
                                                        {"FUSE_DWEN", LockoutBit::Dwen}};
    const auto kind = std::find_if(std::begin(kinds), std::end(kinds),
                                   [&](const auto& k) { return name == k.first; });
    if (kind == std::end(kinds)) return std::nullopt;
    const std::size_t bv = line.find("_BV(", line.find('~'));
    if (line.find('~') == std::string::npos || bv == std::string::npos) return std::nullopt;
    std::size_t at = bv + 4;
    while (at < line.size() && line[at] == ' ') ++at;
    if (at >= line.size() || line[at] < '0' || line[at] > '7') return std::nullopt;
    return std::make_pair(kind->second, line[at] - '0');
}

// The lock-out bits the header defines; a definition outside a fuse-byte section fails.
std::set<Bit> HeaderBits(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path << " is missing: scripts/setup installs avr-libc";
    std::set<Bit> bits;
    std::optional<FuseByte> fuse;
    std::string line;
    while (std::getline(in, line)) {
        if (const auto opened = SectionOf(line)) {
            fuse = opened;
        } else if (const auto definition = DefinitionOf(line)) {
            EXPECT_TRUE(fuse) << path << ": " << line << " stands in no fuse byte";
            if (fuse) bits.insert({*fuse, definition->second, definition->first});
        }
    }
    return bits;
}

std::set<Bit> TableBits(const std::string& chip) {
    std::set<Bit> bits;
    for (const LockoutFuseBit& b : LockoutFuseBits())
        if (chip == b.Chip) bits.insert({b.Fuse, b.Bit, b.Kind});
    return bits;
}

std::optional<uint8_t>& Slot(FuseBytes& f, FuseByte which) {
    return which == FuseByte::Lo ? f.Lo : which == FuseByte::Hi ? f.Hi : f.Ex;
}

// All three fuses written, every bit unprogrammed but the chip's SPIEN.
FuseBytes Reachable(const std::set<Bit>& bits) {
    FuseBytes f{0xFF, 0xFF, 0xFF};
    for (const auto& [fuse, bit, kind] : bits)
        if (kind == LockoutBit::Spien) *Slot(f, fuse) &= static_cast<uint8_t>(~(1u << bit));
    return f;
}
}  // namespace

TEST(IspLockout, TableMatchesAvrLibcForEveryChip) {
    int chipsWithBits = 0;
    for (const DeviceEntry& d : DeviceTable) {
        SCOPED_TRACE(d.Name);
        const std::set<Bit> header = HeaderBits(HeaderFor(d.Name));
        EXPECT_EQ(TableBits(d.Name), header);
        chipsWithBits += header.empty() ? 0 : 1;
    }
    EXPECT_EQ(chipsWithBits, static_cast<int>(DeviceCount));  // every chip has SPIEN at least
    for (const LockoutFuseBit& b : LockoutFuseBits())
        EXPECT_NE(FindDeviceByName(b.Chip), nullptr) << b.Chip;
}

// Each bit alone, at the header's position: the reachable value passes, the value with
// that one bit turned against the chip is refused with a sentence naming fuse and bit.
TEST(IspLockout, EveryHeaderBitIsRefusedAlone) {
    for (const DeviceEntry& d : DeviceTable) {
        const std::set<Bit> bits = HeaderBits(HeaderFor(d.Name));
        const FuseBytes reachable = Reachable(bits);
        EXPECT_TRUE(IspLockoutProblems(d.Name, reachable).empty()) << d.Name;
        for (const auto& [fuse, bit, kind] : bits) {
            SCOPED_TRACE(std::string(d.Name) + " " + FuseName(fuse) + " bit " +
                         std::to_string(bit) + " " + LockoutBitName(kind));
            FuseBytes locked = reachable;
            *Slot(locked, fuse) ^= static_cast<uint8_t>(1u << bit);
            const std::vector<std::string> problems = IspLockoutProblems(d.Name, locked);
            ASSERT_EQ(problems.size(), 1u);
            char start[32];
            std::snprintf(start, sizeof start, "%s fuse 0x%02X would ", FuseName(fuse),
                          *Slot(locked, fuse));
            EXPECT_EQ(problems[0].rfind(start, 0), 0u) << problems[0];
            EXPECT_NE(problems[0].find(std::string("(") + LockoutBitName(kind) + ")"),
                      std::string::npos)
                << problems[0];
            // A fuse the run leaves alone is never the problem.
            FuseBytes without = locked;
            Slot(without, fuse).reset();
            EXPECT_TRUE(IspLockoutProblems(d.Name, without).empty());
        }
    }
}

TEST(IspLockout, RefusalNamesEveryBitAndTheWayToAllowIt) {
    EXPECT_EQ(IspLockoutProblems("ATmega644P", {std::nullopt, 0xFF, std::nullopt}),
              std::vector<std::string>{"Hi fuse 0xFF would disable serial programming (SPIEN)"});
    EXPECT_TRUE(IspLockoutProblems("ATmega644P", {0xFF, 0xDF, 0xFF}).empty());  // SPIEN on

    RunParams params;
    params.FuseHi = "0x3F";  // ATmega168: SPIEN off, DWEN and RSTDISBL on
    try {
        CheckIspLockout("ATmega168", params);
        FAIL() << "not refused";
    } catch (const EProgError& e) {
        EXPECT_EQ(e.Code, errIspLockout);
        EXPECT_EQ(GetErrorText(e.Code), "Fuse value would lock out serial programming.");
        for (const char* part :
             {"(SPIEN)", "(DWEN)", "(RSTDISBL)", "Lockout_<k>=YES", "--allow-isp-lockout"})
            EXPECT_NE(e.Detail.find(part), std::string::npos) << part << " in " << e.Detail;
    }
    params.AllowIspLockout = true;
    EXPECT_NO_THROW(CheckIspLockout("ATmega168", params));

    // Texts that are no number are left to the number check, which names them.
    RunParams odd;
    odd.FuseHi = "$G2";
    EXPECT_NO_THROW(CheckIspLockout("ATmega644P", odd));
}
