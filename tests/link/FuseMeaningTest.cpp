// The fuse and lock bits in words: the per-chip table held against avr-libc's headers (every
// FUSE_ bit at its position, the number of fuse bytes, the lock-bit macros and the lock-mode
// values of avr/lock.h), and the words for the values the chips leave the factory with.
#include "link/FuseMeaning.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "tests/support/AvrHeaders.h"

namespace {
using Bits = std::set<std::tuple<FuseByte, int, std::string>>;

// The table's bits named as the headers name them: a run of bits NAME0, NAME1, ... from its
// lowest bit, a single bit by its name. ATmega32A's header names CKSEL and SUT as one run,
// SUT_CKSEL5..0.
Bits TableBits(const DeviceEntry& chip) {
    Bits bits;
    for (FuseByte fuse : {FuseByte::Lo, FuseByte::Hi, FuseByte::Ex})
        for (const FuseField& f : FuseFieldsOf(chip, fuse)) {
            int index = 0, width = 0;
            for (int b = 0; b < 8; ++b) width += (f.Mask >> b) & 1;
            for (int b = 0; b < 8; ++b) {
                if (((f.Mask >> b) & 1) == 0) continue;
                std::string name = f.Name;
                if (width > 1) name += std::to_string(index++);
                bits.insert({fuse, b, name});
            }
        }
    return bits;
}

Bits Normalised(const Bits& header) {
    Bits out;
    for (const auto& [fuse, bit, name] : header) {
        if (name.rfind("SUT_CKSEL", 0) == 0)
            out.insert({fuse, bit,
                        bit < 4 ? "CKSEL" + std::to_string(bit) : "SUT" + std::to_string(bit - 4)});
        else
            out.insert({fuse, bit, name});
    }
    return out;
}

std::string Header(const DeviceEntry& chip) {
    return AvrHeaderFor(Q40_AVR_INCLUDE, chip.Name);
}

const DeviceEntry& Chip(const char* name) {
    return *FindDeviceByName(name);
}

// "#define LB_MODE_3  (0xFC)" and the like from avr/lock.h.
std::map<std::string, uint8_t> LockModes() {
    std::ifstream in(std::string(Q40_AVR_INCLUDE) + "/avr/lock.h");
    EXPECT_TRUE(in);
    std::map<std::string, uint8_t> modes;
    // Read word by word: std::regex trips gcc's maybe-uninitialized warning in optimised
    // sanitizer builds.
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string hash, name, value;
        if (!(words >> hash >> name >> value) || hash != "#define") continue;
        const bool lockName = name.rfind("LB_MODE_", 0) == 0 || name.rfind("BLB0_MODE_", 0) == 0 ||
                              name.rfind("BLB1_MODE_", 0) == 0;
        if (!lockName || value.size() < 4 || value.rfind("(0x", 0) != 0) continue;
        modes[name] = static_cast<uint8_t>(std::stoul(value.substr(1), nullptr, 16));
    }
    return modes;
}

bool AnyLineHas(const std::vector<std::string>& lines, const std::string& part) {
    for (const std::string& l : lines)
        if (l.find(part) != std::string::npos) return true;
    return false;
}
}  // namespace

TEST(FuseMeaning, TableMatchesAvrLibcForEveryChip) {
    for (const DeviceEntry& d : DeviceTable) {
        SCOPED_TRACE(d.Name);
        const AvrHeaderFacts header = ReadAvrHeader(Header(d));
        if (FusesOf(d).empty()) {  // parallel programming only
            EXPECT_TRUE(TableBits(d).empty());
            EXPECT_FALSE(HasLockRead(d));
            EXPECT_TRUE(DescribeLockBits(d, 0xFF).empty());
            continue;
        }
        EXPECT_EQ(static_cast<int>(FusesOf(d).size()), header.FuseBytes);
        EXPECT_EQ(TableBits(d), Normalised(header.FuseBits));
        EXPECT_EQ(HasLockRead(d), header.Defined.count("__LOCK_BITS_EXIST") == 1);
        EXPECT_EQ(HasBootLockBits(d), header.Defined.count("__BOOT_LOCK_BITS_0_EXIST") == 1);
        EXPECT_EQ(HasBootLockBits(d), header.Defined.count("__BOOT_LOCK_BITS_1_EXIST") == 1);
    }
}

// Every value of every byte of every chip: one line per field (clock source and start-up time
// share one), each naming its field and bits, then words.
TEST(FuseMeaning, EveryValueOfEveryByteIsTold) {
    for (const DeviceEntry& d : DeviceTable)
        for (FuseByte fuse : FusesOf(d)) {
            const std::vector<FuseField> fields = FuseFieldsOf(d, fuse);
            bool hasSut = false;
            for (const FuseField& f : fields) hasSut = hasSut || std::string(f.Name) == "SUT";
            for (int v = 0; v < 256; ++v) {
                const auto lines = DescribeFuse(d, fuse, static_cast<uint8_t>(v));
                ASSERT_EQ(lines.size(), fields.size() - (hasSut ? 1 : 0)) << d.Name << " " << v;
                for (const std::string& line : lines) {
                    const auto colon = line.find(": ");
                    ASSERT_NE(colon, std::string::npos) << line;
                    EXPECT_GT(line.size(), colon + 4) << line;
                }
            }
        }
}

TEST(FuseMeaning, FactoryValuesInWords) {
    EXPECT_EQ(DescribeFuse(Chip("ATmega644P"), FuseByte::Lo, 0x62),
              (std::vector<std::string>{"CKSEL=0010 SUT=10: calibrated internal RC, 8 MHz, "
                                        "start-up 6 CK + 14 CK + 65 ms (slowly rising power)",
                                        "CKOUT=1: no clock output",
                                        "CKDIV8=0: clock divided by 8 at start"}));
    const std::string bootSection =
        "BOOTSZ=00: boot section 4096 words (8192 bytes) from byte 0xE000: application area of "
        "57344 bytes";
    EXPECT_EQ(DescribeFuse(Chip("ATmega644P"), FuseByte::Hi, 0x99),
              (std::vector<std::string>{
                  "BOOTRST=1: reset starts the application at 0x0000", bootSection,
                  "EESAVE=1: chip erase also erases the EEPROM",
                  "WDTON=1: watchdog under software control", "SPIEN=0: serial programming enabled",
                  "JTAGEN=0: JTAG interface enabled", "OCDEN=1: on-chip debugging disabled"}));
    EXPECT_EQ(DescribeFuse(Chip("ATmega644P"), FuseByte::Ex, 0xFD),
              std::vector<std::string>{"BODLEVEL=101: brown-out level 2.7 V"});
    EXPECT_EQ(DescribeFuse(Chip("ATmega8"), FuseByte::Lo, 0xE1),
              (std::vector<std::string>{"CKSEL=0001 SUT=10: calibrated internal RC, 1 MHz, "
                                        "start-up 6 CK + 65 ms (slowly rising power)",
                                        "BODEN=1: brown-out detection off",
                                        "BODLEVEL=1: brown-out level 2.7 V"}));
    EXPECT_EQ(DescribeFuse(Chip("ATtiny13"), FuseByte::Hi, 0xFF),
              (std::vector<std::string>{
                  "RSTDISBL=1: reset pin enabled", "BODLEVEL=11: brown-out detection off",
                  "DWEN=1: debugWIRE disabled", "SPMEN=1: self-programming (SPM) disabled"}));
    EXPECT_EQ(DescribeFuse(Chip("ATtiny13"), FuseByte::Lo, 0x6A)[0],
              "CKSEL=10 SUT=10: calibrated internal RC, 9.6 MHz, start-up 6 CK + 14 CK + 64 ms "
              "(slowly rising power)");
    EXPECT_EQ(DescribeFuse(Chip("ATtiny2313"), FuseByte::Lo, 0x64)[0],
              "CKSEL=0100 SUT=10: calibrated internal RC, 8 MHz, start-up 6 CK + 14 CK + 65 ms "
              "(slowly rising power)");
    EXPECT_EQ(DescribeFuse(Chip("ATmega168"), FuseByte::Ex, 0xF9)[1],
              "BOOTSZ=00: boot section 1024 words (2048 bytes) from byte 0x3800: application "
              "area of 14336 bytes");
    EXPECT_EQ(DescribeFuse(Chip("ATmega2560"), FuseByte::Hi, 0xDA)[1],
              "BOOTSZ=01: boot section 2048 words (4096 bytes) from byte 0x3F000: application "
              "area of 258048 bytes");
    EXPECT_EQ(DescribeFuse(Chip("ATmega163"), FuseByte::Lo, 0xE2)[0],
              "CKSEL=0010: internal RC oscillator, 1 MHz, slowly rising power");
    EXPECT_EQ(DescribeFuse(Chip("ATmega128"), FuseByte::Lo, 0xFF)[0],
              "CKSEL=1111 SUT=11: external crystal or ceramic resonator, 3.0 to 8.0 MHz (1 MHz "
              "and up with CKOPT programmed), start-up 16K CK + 65 ms (crystal, slowly rising "
              "power)");
    EXPECT_TRUE(AnyLineHas(DescribeFuse(Chip("ATmega48"), FuseByte::Hi, 0x5F),
                           "RSTDISBL=0: reset pin is an I/O pin: serial programming is off"));
    EXPECT_TRUE(AnyLineHas(DescribeFuse(Chip("ATmega48"), FuseByte::Hi, 0xBF),
                           "DWEN=0: debugWIRE enabled: serial programming is off"));
    EXPECT_TRUE(AnyLineHas(DescribeFuse(Chip("ATmega48"), FuseByte::Hi, 0xF7),
                           "EESAVE=0: EEPROM kept through the chip erase"));
    EXPECT_TRUE(DescribeFuse(Chip("ATtiny13"), FuseByte::Ex, 0xFF).empty());
}

// The values avr/lock.h defines for each mode are told as that mode.
TEST(FuseMeaning, LockModesAsAvrLibcDefinesThem) {
    const std::map<std::string, uint8_t> modes = LockModes();
    ASSERT_EQ(modes.size(), 3u + 4u + 4u);
    const DeviceEntry& boot = Chip("ATmega644P");
    for (const auto& [name, value] : modes) {
        SCOPED_TRACE(name);
        const std::string mode = name.substr(0, name.find('_'));  // LB, BLB0, BLB1
        const std::string number = name.substr(name.size() - 1);
        const std::vector<std::string> lines = DescribeLockBits(boot, value);
        ASSERT_EQ(lines.size(), 3u);
        std::string wanted = mode;
        wanted += " mode ";
        wanted += number;
        EXPECT_TRUE(AnyLineHas(lines, wanted)) << lines[0];
        EXPECT_EQ(ForbidsReading(value), name == "LB_MODE_3");
        // Everything else in mode 1.
        for (const char* other : {"LB mode 1", "BLB0 mode 1", "BLB1 mode 1"}) {
            if (std::string(other).rfind(mode + " ", 0) != 0) {
                EXPECT_TRUE(AnyLineHas(lines, other));
            }
        }
    }
    EXPECT_EQ(DescribeLockBits(Chip("ATtiny13"), 0xFC),
              std::vector<std::string>{"LB=00: LB mode 3: flash and EEPROM programming and "
                                       "reading back disabled, fuses locked"});
    EXPECT_EQ(DescribeLockBits(Chip("ATmega48"), 0xFF).size(), 1u);  // no boot section
}
