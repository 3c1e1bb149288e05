// Programmer commands as byte traces against the in-process box.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/LinkOnBox.h"
#include "tests/support/TestData.h"

namespace {
using Bytes = std::vector<uint8_t>;

long CountOf(const std::string& s, char c) {
    return std::count(s.begin(), s.end(), c);
}
}  // namespace

TEST(Commands, SetPortTimeSendsHighByteFirst) {
    LinkOnBox t;
    t.Link->OpenPort("ttySIM0");
    t.Link->SetPortTime(300);
    t.Link->SetPortTime(100);
    EXPECT_EQ(t.Port->Written, (Bytes{'t', 0x01, 0x2C, 't', 0x00, 0x64}));
}

TEST(Commands, EnableSequenceWithItsWaits) {
    LinkOnBox t;
    t.Link->OpenPort("ttySIM0");
    t.Link->EnableProgMode();
    EXPECT_EQ(t.Port->Written, (Bytes{'H', 'L', 'E', 'H', 'L', 'I', 0xAC, 0x53, 0x00, 0x00, 0x00}));
    EXPECT_EQ(t.Clock.Waits, (std::vector<int>{30, 30, 30, 30, 30}));
    EXPECT_TRUE(t.Box.ProgEnabled);
}

TEST(Commands, EnableAcceptsTheSixtyFourthAttempt) {
    BoxConfig late;
    late.EnableOnAttempt = 64;
    LinkOnBox t(late);
    t.Link->OpenPort("ttySIM0");
    t.Link->EnableProgMode();
    EXPECT_EQ(t.Box.EnableAttempts, 64);
    EXPECT_EQ(CountOf(t.Box.CommandLetters, 'P'), 63);
}

TEST(Commands, NoTargetGivesSixtyFourPulsesThenCode9) {
    BoxConfig none;
    none.NoTarget = true;
    LinkOnBox t(none);
    t.Link->OpenPort("ttySIM0");
    EXPECT_EQ(CodeOf([&] { t.Link->EnableProgMode(); }), 9);
    EXPECT_EQ(t.Box.EnableAttempts, 64);
    EXPECT_EQ(CountOf(t.Box.CommandLetters, 'P'), 64);
    EXPECT_EQ(t.Box.CommandLetters.back(), 'P');
}

TEST(Commands, BoxFaultsGiveTheirCodes) {
    BoxConfig badEcho;
    badEcho.BadEcho = true;
    BoxConfig silent;
    silent.Silent = true;
    for (const auto& [config, code] : {std::pair{badEcho, 2}, std::pair{silent, 4}}) {
        LinkOnBox t(config);
        t.Link->OpenPort("ttySIM0");
        t.Link->ResetProgrammer();
        EXPECT_EQ(CodeOf([&] { t.Link->ReadVersion(); }), code);
    }
}

TEST(Commands, IdentifiesTheSimulatedChips) {
    for (const char* chip : {"ATmega644P", "ATmega2560", "AT90S2313", "ATtiny13"}) {
        BoxConfig c;
        c.Chip = chip;
        LinkOnBox t(c);
        t.Identify();
        EXPECT_STREQ(t.Link->Device.Name, chip);
    }
}

TEST(Commands, EraseChipClearsTheTargetAndWaits) {
    LinkOnBox t;
    t.Identify();
    t.Box.Target.Flash[5] = 0x00;
    t.Box.Target.Eeprom[7] = 0x12;
    t.Clock.Waits.clear();
    t.Link->EraseChip();
    EXPECT_EQ(t.Box.Target.Flash[5], 0xFF);
    EXPECT_EQ(t.Box.Target.Eeprom[7], 0xFF);
    EXPECT_EQ(t.Clock.Waits, (std::vector<int>{30}));
}

TEST(Commands, FuseWritesReachTheTarget) {
    LinkOnBox t;
    t.Identify();
    t.Link->IspCommand(0xAC, 0xA0, 0x00, 0xE2, isp::FuseParam);
    t.Link->IspCommand(0xAC, 0xA8, 0x00, 0x99, isp::FuseParam);
    t.Link->IspCommand(0xAC, 0xA4, 0x00, 0xFD, isp::FuseParam);
    EXPECT_EQ(t.Box.Target.FuseLo, 0xE2);
    EXPECT_EQ(t.Box.Target.FuseHi, 0x99);
    EXPECT_EQ(t.Box.Target.FuseEx, 0xFD);
}
