// The fuse bytes of each chip, held against avr-libc's per-chip headers (FUSE_MEMORY_SIZE and
// the FUSE_ bit definitions under "Low/High/Extended Fuse Byte"), and their reads as byte
// traces against the in-process box.
#include "link/Fuses.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/support/AvrLibcHeaders.h"
#include "tests/support/LinkOnBox.h"
#include "tests/support/Trace.h"

namespace {
using Bytes = std::vector<uint8_t>;
constexpr FuseByte AllFuses[] = {FuseByte::Lo, FuseByte::Hi, FuseByte::Ex};

// The AT90S chips have a fuse byte in avr-libc, but it is reached in parallel mode only:
// their serial programming instruction sets have no fuse instruction.
bool ParallelOnly(const DeviceEntry& chip) {
    return std::string(chip.Name).rfind("AT90S", 0) == 0;
}

std::map<FuseByte, uint8_t> HeaderMasks(const std::string& path) {
    std::map<FuseByte, uint8_t> masks;
    for (const avrlibc::FuseBitDefinition& d : avrlibc::FuseBitDefinitions(path))
        masks[d.Fuse] = static_cast<uint8_t>(masks[d.Fuse] | (1u << d.Bit));
    return masks;
}

// The ISP frames after the identification: instruction bytes and parameter.
std::vector<Bytes> IspFramesAfter(const LinkOnBox& t, std::size_t skip) {
    std::vector<Bytes> frames;
    for (const TraceFrame& f : SplitTrace(t.Port->Written))
        if (f.Letter == 'I') frames.push_back(f.Tail);
    return {frames.begin() + static_cast<std::ptrdiff_t>(std::min(skip, frames.size())),
            frames.end()};
}
}  // namespace

TEST(Fuses, PresenceMatchesAvrLibcForEveryChip) {
    int parallelOnly = 0;
    for (const DeviceEntry& d : DeviceTable) {
        SCOPED_TRACE(d.Name);
        const std::string header = avrlibc::HeaderFor(d.Name);
        const std::optional<int> size = avrlibc::FuseMemorySize(header);
        ASSERT_TRUE(size) << header;
        const std::vector<FuseByte> fuses = FusesOf(d);
        if (ParallelOnly(d)) {
            EXPECT_TRUE(fuses.empty());
            ++parallelOnly;
        } else {
            EXPECT_EQ(static_cast<int>(fuses.size()), *size);
            // The bytes a chip has are the first ones: Lo, then Hi, then Ex.
            EXPECT_EQ(fuses, std::vector<FuseByte>(AllFuses, AllFuses + fuses.size()));
        }
        for (const FuseByte f : AllFuses)
            EXPECT_EQ(HasFuse(d, f), std::find(fuses.begin(), fuses.end(), f) != fuses.end())
                << FuseName(f);
    }
    EXPECT_EQ(parallelOnly, 2);
}

TEST(Fuses, ImplementedBitsMatchAvrLibcForEveryChip) {
    for (const DeviceEntry& d : DeviceTable) {
        SCOPED_TRACE(d.Name);
        std::map<FuseByte, uint8_t> header = HeaderMasks(avrlibc::HeaderFor(d.Name));
        EXPECT_FALSE(header.empty());  // every header defines its fuse bits
        for (const FuseByte f : AllFuses) {
            const uint8_t expected = ParallelOnly(d) ? 0 : header[f];
            EXPECT_EQ(ImplementedBits(d, f), expected) << FuseName(f);
            EXPECT_EQ(HasFuse(d, f), expected != 0) << FuseName(f);
        }
    }
}

// Bits a chip does not implement read back as 1 and are no difference; an implemented bit
// that differs either way is one.
TEST(Fuses, ReadBackHoldsTheValueInTheImplementedBitsOnly) {
    const struct {
        const char* Chip;
        FuseByte Fuse;
        uint8_t Written, Read;
        bool Holds;
    } cases[] = {
        {"ATmega644P", FuseByte::Ex, 0x05, 0xFD, true},  // BODLEVEL2..0 only
        {"ATmega644P", FuseByte::Ex, 0x05, 0x05, true},
        {"ATmega644P", FuseByte::Ex, 0x05, 0xFC, false},
        {"ATmega644P", FuseByte::Ex, 0xFD, 0xFF, false},  // BODLEVEL1 did not take
        {"ATmega644P", FuseByte::Hi, 0xD9, 0xD9, true},
        {"ATmega644P", FuseByte::Hi, 0xD9, 0x59, false},  // every bit counts
        {"ATmega644P", FuseByte::Lo, 0xE2, 0xE3, false},
        {"ATtiny13", FuseByte::Hi, 0x0B, 0xEB, true},  // five bits
        {"ATtiny13", FuseByte::Hi, 0x0B, 0xFB, false},
        {"ATmega163", FuseByte::Lo, 0xC0, 0xD0, true},  // bit 4 is none of its fuses
        {"ATmega163", FuseByte::Hi, 0x02, 0xFA, true},
        {"ATmega48", FuseByte::Ex, 0x00, 0xFE, true},  // SELFPRGEN alone
        {"ATmega48", FuseByte::Ex, 0x00, 0xFF, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Chip) + " " + FuseName(c.Fuse));
        const DeviceEntry* d = FindDeviceByName(c.Chip);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(FuseHolds(*d, c.Fuse, c.Written, c.Read), c.Holds);
    }
}

TEST(Fuses, InstructionsAsTheSerialInstructionSetSpellsThem) {
    const struct {
        FuseByte Fuse;
        const char* Name;
        uint8_t Write2, Read1, Read2;
    } cases[] = {{FuseByte::Lo, "Lo", 0xA0, 0x50, 0x00},
                 {FuseByte::Hi, "Hi", 0xA8, 0x58, 0x08},
                 {FuseByte::Ex, "Ex", 0xA4, 0x50, 0x08}};
    for (const auto& c : cases) {
        EXPECT_STREQ(FuseName(c.Fuse), c.Name);
        const FuseInstructions i = InstructionsOf(c.Fuse);
        EXPECT_EQ(i.Write2, c.Write2) << c.Name;
        EXPECT_EQ(i.Read1, c.Read1) << c.Name;
        EXPECT_EQ(i.Read2, c.Read2) << c.Name;
    }
}

// Each read is one ISP frame with parameter 0; the value is the answer during byte 4.
TEST(Fuses, ReadsAreOneFrameEachAndGiveTheFourthReplyByte) {
    LinkOnBox t;
    t.Identify();
    const std::size_t identification = IspFramesAfter(t, 0).size();
    t.Box.Target.FuseLo = 0xE2;
    t.Box.Target.FuseHi = 0x99;
    t.Box.Target.FuseEx = 0xFD;
    t.Box.Target.LockBits = 0xFC;
    EXPECT_EQ(ReadFuse(*t.Link, FuseByte::Lo), 0xE2);
    EXPECT_EQ(ReadFuse(*t.Link, FuseByte::Hi), 0x99);
    EXPECT_EQ(ReadFuse(*t.Link, FuseByte::Ex), 0xFD);
    EXPECT_EQ(ReadLockBits(*t.Link), 0xFC);
    EXPECT_EQ(IspFramesAfter(t, identification), (std::vector<Bytes>{{0x50, 0x00, 0x00, 0x00, 0},
                                                                     {0x58, 0x08, 0x00, 0x00, 0},
                                                                     {0x50, 0x08, 0x00, 0x00, 0},
                                                                     {0x58, 0x00, 0x00, 0x00, 0}}));
}

// The simulated chip keeps fuses as a real one does: unimplemented bits stay 1, a byte the
// chip lacks takes no write and reads 0xFF, a stuck byte keeps what it held.
TEST(Fuses, SimulatedChipKeepsOnlyTheBitsItHas) {
    const auto written = [](const char* chip, FuseByte fuse, uint8_t value,
                            std::set<FuseByte> stuck = {}) {
        BoxConfig c;
        c.Chip = chip;
        c.StuckFuses = std::move(stuck);
        LinkOnBox t(c);
        t.Identify();
        const FuseInstructions i = InstructionsOf(fuse);
        t.Link->IspCommand(0xAC, i.Write2, 0x00, value, isp::FuseParam);
        return ReadFuse(*t.Link, fuse);
    };
    EXPECT_EQ(written("ATmega644P", FuseByte::Ex, 0x05), 0xFD);
    EXPECT_EQ(written("ATmega644P", FuseByte::Hi, 0x11), 0x11);
    EXPECT_EQ(written("ATtiny13", FuseByte::Hi, 0x00), 0xE0);
    EXPECT_EQ(written("ATmega163", FuseByte::Lo, 0x00), 0x10);
    EXPECT_EQ(written("ATmega8", FuseByte::Ex, 0x00), 0xFF);
    EXPECT_EQ(written("AT90S2313", FuseByte::Lo, 0x00), 0xFF);
    EXPECT_EQ(written("ATmega644P", FuseByte::Hi, 0x11, {FuseByte::Hi}), 0xD9);  // as it was
    EXPECT_EQ(written("ATmega644P", FuseByte::Lo, 0x11, {FuseByte::Hi}), 0x11);

    // What a fresh chip holds already has its unimplemented bits at 1.
    for (const DeviceEntry& d : DeviceTable) {
        const TargetModel target(d);
        for (const FuseByte f : AllFuses)
            EXPECT_EQ(target.ReadFuse(f) | ImplementedBits(d, f), 0xFF) << d.Name << FuseName(f);
    }
}
