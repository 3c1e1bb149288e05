// The ISP lock-out guard, held against the fuse definitions of avr-libc's per-chip headers
// (FUSE_SPIEN, FUSE_RSTDISBL, FUSE_DWEN as ~_BV(n) under "Low/High/Extended Fuse Byte").
#include "programming/IspLockout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <regex>
#include <set>
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

// The lock-out bits the header defines; a definition outside a fuse-byte section fails.
std::set<Bit> HeaderBits(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path << " is missing: scripts/setup installs avr-libc";
    static const std::regex section(R"(/\*\s*(Low|High|Extended) Fuse Byte\s*\*/)");
    static const std::regex define(
        R"(^\s*#\s*define\s+FUSE_(SPIEN|RSTDISBL|DWEN)\s+.*~\s*_BV\(\s*([0-7])\s*\))");
    std::set<Bit> bits;
    std::optional<FuseByte> fuse;
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, section)) {
            fuse = m[1] == "Low" ? FuseByte::Lo : m[1] == "High" ? FuseByte::Hi : FuseByte::Ex;
        } else if (std::regex_search(line, m, define)) {
            const LockoutBit kind = m[1] == "SPIEN"      ? LockoutBit::Spien
                                    : m[1] == "RSTDISBL" ? LockoutBit::Rstdisbl
                                                         : LockoutBit::Dwen;
            EXPECT_TRUE(fuse) << path << ": " << line << " stands in no fuse byte";
            if (fuse) bits.insert({*fuse, std::stoi(m[2]), kind});
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
