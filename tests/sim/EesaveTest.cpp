// The chip erase and the EESAVE fuse, through the box's own instructions: the fuse byte and
// bit per chip as avr-libc's per-chip headers define FUSE_EESAVE, and the erase that keeps the
// EEPROM exactly while that bit is programmed.
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>

#include "sim/EesaveFuse.h"
#include "tests/sim/BoxDriver.h"

namespace {
// "ATmega644P" -> <avr-libc>/avr/iom644p.h, "ATtiny13" -> iotn13.h, "AT90S2313" -> io2313.h.
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

// The header's FUSE_EESAVE: "#define FUSE_EESAVE (unsigned char)~_BV(n)" in the section a
// "/* Low|High|Extended Fuse Byte */" comment opens.
std::optional<EesaveBit> HeaderEesave(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path << " is missing: scripts/setup installs avr-libc";
    std::optional<FuseByte> section;
    for (std::string line; std::getline(in, line);) {
        if (line.find("/*") != std::string::npos) {
            if (line.find("Low Fuse Byte") != std::string::npos) section = FuseByte::Lo;
            if (line.find("High Fuse Byte") != std::string::npos) section = FuseByte::Hi;
            if (line.find("Extended Fuse Byte") != std::string::npos) section = FuseByte::Ex;
        }
        const auto at = line.find("FUSE_EESAVE");
        if (line.find("#define") == std::string::npos || at == std::string::npos) continue;
        const auto bv = line.find("_BV(", at);
        EXPECT_NE(bv, std::string::npos) << line;
        EXPECT_TRUE(section) << path << ": " << line << " stands in no fuse byte";
        if (bv == std::string::npos || !section) return std::nullopt;
        return EesaveBit{*section, line[bv + 4] - '0'};
    }
    return std::nullopt;
}

constexpr uint8_t ChipErase[] = {'I', 0xAC, 0x80, 0x00, 0x00, 0};

// Writes the fuse byte through the box, as a run does.
void WriteFuse(BoxModel& box, FuseByte fuse, uint8_t value) {
    Exchange(box, Bytes{'I', 0xAC, InstructionsOf(fuse).Write2, 0x00, value, 10});
}
}  // namespace

TEST(Eesave, PositionMatchesAvrLibcForEveryChip) {
    for (const DeviceEntry& d : DeviceTable) {
        SCOPED_TRACE(d.Name);
        const std::optional<EesaveBit> header = HeaderEesave(HeaderFor(d.Name));
        const std::optional<EesaveBit> model = EesaveOf(d);
        ASSERT_EQ(model.has_value(), header.has_value());
        if (!model) continue;
        EXPECT_EQ(model->Fuse, header->Fuse);
        EXPECT_EQ(model->Bit, header->Bit);
    }
}

// For every chip: the erase clears the EEPROM, unless the EESAVE bit alone is programmed;
// the box's default fuses leave it unprogrammed.
TEST(Eesave, EraseKeepsTheEepromOnlyWhileEesaveIsProgrammed) {
    for (const DeviceEntry& d : DeviceTable) {
        SCOPED_TRACE(d.Name);
        BoxConfig config;
        config.Chip = d.Name;
        BoxModel box(config);
        ASSERT_TRUE(EnterProgMode(box));
        const Bytes data = Counting(32, 0x10);
        const auto erase = [&] {
            Exchange(box, EepromWrite(0x00, data));
            Exchange(box, Bytes(std::begin(ChipErase), std::end(ChipErase)));
            return Bytes(box.Target.Eeprom.begin(), box.Target.Eeprom.begin() + 32);
        };
        EXPECT_EQ(erase(), Filled(32, 0xFF)) << "default fuses";
        const std::optional<EesaveBit> eesave = EesaveOf(d);
        if (!eesave) continue;
        for (const FuseByte other : {FuseByte::Lo, FuseByte::Hi, FuseByte::Ex})
            WriteFuse(box, other, 0xFF);
        WriteFuse(box, eesave->Fuse, static_cast<uint8_t>(~(1u << eesave->Bit)));
        EXPECT_EQ(erase(), data) << "EESAVE programmed";
        EXPECT_EQ(box.Target.Flash, std::vector<uint8_t>(box.Target.Flash.size(), 0xFF));
        WriteFuse(box, eesave->Fuse, 0xFF);
        EXPECT_EQ(erase(), Filled(32, 0xFF)) << "EESAVE unprogrammed again";
    }
}
