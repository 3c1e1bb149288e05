// The ISP lock-out guard, held against the fuse definitions of avr-libc's per-chip headers
// (FUSE_SPIEN, FUSE_RSTDISBL, FUSE_DWEN as ~_BV(n) under "Low/High/Extended Fuse Byte").
#include "programming/IspLockout.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <tuple>

#include "link/DeviceTable.h"
#include "link/ProgError.h"
#include "tests/support/AvrLibcHeaders.h"

namespace {
using Bit = std::tuple<FuseByte, int, LockoutBit>;

// The lock-out bits the header defines.
std::set<Bit> HeaderBits(const std::string& path) {
    const std::pair<const char*, LockoutBit> kinds[] = {{"FUSE_SPIEN", LockoutBit::Spien},
                                                        {"FUSE_RSTDISBL", LockoutBit::Rstdisbl},
                                                        {"FUSE_DWEN", LockoutBit::Dwen}};
    std::set<Bit> bits;
    for (const avrlibc::FuseBitDefinition& d : avrlibc::FuseBitDefinitions(path))
        for (const auto& [name, kind] : kinds)
            if (d.Name == name) bits.insert({d.Fuse, d.Bit, kind});
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
        const std::set<Bit> header = HeaderBits(avrlibc::HeaderFor(d.Name));
        EXPECT_EQ(TableBits(d.Name), header);
        chipsWithBits += header.empty() ? 0 : 1;
    }
    EXPECT_EQ(chipsWithBits, static_cast<int>(DeviceCount));  // every chip has SPIEN at least
    for (const LockoutFuseBit& b : LockoutFuseBits())
        EXPECT_NE(FindDeviceByName(b.Chip), nullptr) << b.Chip;
}

// Each bit alone, at the header's position: the reachable value passes, the value with
// that one bit turned against the chip is refused with a sentence naming fuse and bit. A fuse
// byte that serial programming cannot write (the AT90S chips') is not judged: the run
// refuses its value as absent.
TEST(IspLockout, EveryHeaderBitIsRefusedAlone) {
    int unjudged = 0;
    for (const DeviceEntry& d : DeviceTable) {
        const std::set<Bit> bits = HeaderBits(avrlibc::HeaderFor(d.Name));
        const FuseBytes reachable = Reachable(bits);
        EXPECT_TRUE(IspLockoutProblems(d.Name, reachable).empty()) << d.Name;
        for (const auto& [fuse, bit, kind] : bits) {
            SCOPED_TRACE(std::string(d.Name) + " " + FuseName(fuse) + " bit " +
                         std::to_string(bit) + " " + LockoutBitName(kind));
            FuseBytes locked = reachable;
            *Slot(locked, fuse) ^= static_cast<uint8_t>(1u << bit);
            const std::vector<std::string> problems = IspLockoutProblems(d.Name, locked);
            if (!HasFuse(d, fuse)) {
                EXPECT_TRUE(problems.empty());
                ++unjudged;
                continue;
            }
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
    EXPECT_EQ(unjudged, 2);  // SPIEN of the AT90S2313 and of the AT90S8515
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
