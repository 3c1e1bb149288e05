// The box's memory commands on its target model: 'r', 'w', 'R', 'W', 'S', the page
// buffer, Load Extended Address, and the read-back faults.
#include <gtest/gtest.h>

#include "tests/sim/BoxDriver.h"

namespace {
constexpr uint8_t ChipErase[] = {'I', 0xAC, 0x80, 0x00, 0x00, 0};

BoxModel ProgrammingBox(const char* chip, BoxConfig config = {}) {
    config.Chip = chip;
    BoxModel box(config);
    EXPECT_TRUE(EnterProgMode(box));
    return box;
}

Bytes ReadFlash(BoxModel& box, uint32_t address, std::size_t count) {
    Bytes all;
    for (std::size_t o = 0; o < count; o += 32) {
        const Bytes a = Exchange(box, FlashRead(address + static_cast<uint32_t>(o)));
        all.insert(all.end(), a.begin() + 1, a.end());
    }
    return all;
}

// What the link does for one page: 'W' frames in page mode, then 'S'.
void ProgramPage(BoxModel& box, uint32_t address, const Bytes& data) {
    for (std::size_t o = 0; o < data.size(); o += 32)
        Exchange(box, FlashWrite(address + static_cast<uint32_t>(o),
                                 Bytes(data.begin() + o, data.begin() + o + 32), true));
    Exchange(box, StorePage(address, data[0]));
}

TEST(EepromCommands, WriteTakesEffectAtOnceAndReadReturnsIt) {
    BoxModel box = ProgrammingBox("ATmega644P");
    EXPECT_EQ(Exchange(box, EepromWrite(0x20, Filled(32, 0x00))), (Bytes{'w'}));
    EXPECT_EQ(Exchange(box, EepromWrite(0x20, Counting(32, 0xE0))), (Bytes{'w'}));
    EXPECT_EQ(Exchange(box, EepromRead(0x20)), WithEcho('r', Counting(32, 0xE0)));
    EXPECT_EQ(Exchange(box, EepromRead(0x00)), WithEcho('r', Filled(32, 0xFF)));
}

TEST(FlashCommands, ByteModeWritesAtOnceAndBitsOnlyFall) {
    BoxModel box = ProgrammingBox("AT90S2313");
    Exchange(box, FlashWrite(0x40, Filled(32, 0xF3), false));
    EXPECT_EQ(ReadFlash(box, 0x40, 32), Filled(32, 0xF3));
    Exchange(box, FlashWrite(0x40, Filled(32, 0x3F), false));
    EXPECT_EQ(ReadFlash(box, 0x40, 32), Filled(32, 0x33));
}

TEST(FlashCommands, PageModeWritesNothingUntilTheStore) {
    BoxModel box = ProgrammingBox("ATmega644P");
    Exchange(box, FlashWrite(0x100, Counting(32, 1), true));
    EXPECT_EQ(ReadFlash(box, 0x100, 32), Filled(32, 0xFF));
    Exchange(box, StorePage(0x100, 1));
    EXPECT_EQ(ReadFlash(box, 0x100, 32), Counting(32, 1));
}

// The link writes pages of its table's size; the real page buffer may be twice that.
TEST(FlashCommands, ConsecutiveLinkPagesEachWithItsOwnStoreGiveTheRightFlash) {
    for (const char* chip : {"ATtiny13", "ATmega32", "ATmega128", "ATmega644P", "ATmega2560"}) {
        for (bool upperFirst : {false, true}) {
            BoxModel box = ProgrammingBox(chip);
            const uint32_t page = static_cast<uint32_t>(box.Target.Chip().PageSize);
            const uint32_t base = 4 * page;
            const Bytes lower = Counting(page, 0x10), upper = Counting(page, 0x90);
            ProgramPage(box, upperFirst ? base + page : base, upperFirst ? upper : lower);
            ProgramPage(box, upperFirst ? base : base + page, upperFirst ? lower : upper);
            EXPECT_EQ(ReadFlash(box, base, std::size_t{2} * page), Cat({lower, upper}))
                << chip << upperFirst;
            EXPECT_EQ(ReadFlash(box, base - 32, 32), Filled(32, 0xFF)) << chip;
            EXPECT_EQ(ReadFlash(box, base + 2 * page, 32), Filled(32, 0xFF)) << chip;
        }
    }
}

TEST(FlashCommands, PageBitsOnlyFallUntilTheChipErase) {
    BoxModel box = ProgrammingBox("ATmega644P");
    ProgramPage(box, 0x80, Filled(128, 0x0F));
    ProgramPage(box, 0x80, Filled(128, 0xF5));
    EXPECT_EQ(ReadFlash(box, 0x80, 128), Filled(128, 0x05));
    Exchange(box, EepromWrite(0, Filled(32, 0x12)));
    Exchange(box, Bytes(std::begin(ChipErase), std::end(ChipErase)));
    EXPECT_EQ(ReadFlash(box, 0x80, 128), Filled(128, 0xFF));
    EXPECT_EQ(Exchange(box, EepromRead(0)), WithEcho('r', Filled(32, 0xFF)));
    ProgramPage(box, 0x80, Filled(128, 0xF5));
    EXPECT_EQ(ReadFlash(box, 0x80, 128), Filled(128, 0xF5));
}

TEST(FlashCommands, PagesAbove128KWordsNeedTheExtendedAddress) {
    const struct {
        const char* Name;
        uint32_t Page;
        uint8_t Extended;
        uint32_t LandsAt;
    } cases[] = {
        {"last page below, e = 0", 0x1FF80, 0, 0x1FF80},
        {"first page above, e = 1", 0x20000, 1, 0x20000},
        {"last page, e = 1", 0x3FF80, 1, 0x3FF80},
        {"first page above, forgotten", 0x20000, 0, 0x00000},
    };
    for (const auto& c : cases) {
        BoxModel box = ProgrammingBox("ATmega2560");
        const Bytes data = Counting(128, 0x20);
        for (uint32_t o = 0; o < 128; o += 32)
            Exchange(box,
                     FlashWrite(c.Page + o, Bytes(data.begin() + o, data.begin() + o + 32), true));
        EXPECT_EQ(Exchange(box, LoadExtendedAddress(c.Extended)).size(), 5u);
        Exchange(box, StorePage(c.Page, data[0]));
        EXPECT_EQ(ReadFlash(box, c.LandsAt, 128), data) << c.Name;
    }
}

TEST(MemoryCommands, OutsideProgrammingModeNothingIsWrittenAndReadsAreBlank) {
    BoxConfig config;
    config.Chip = "ATmega644P";
    BoxModel box(config);
    box.Target.Flash[0] = 0x12;
    Exchange(box, EepromWrite(0, Filled(32, 0)));
    Exchange(box, FlashWrite(0, Filled(32, 0), true));
    Exchange(box, StorePage(0, 0));
    Exchange(box, FlashWrite(0x40, Filled(32, 0), false));
    EXPECT_EQ(Exchange(box, FlashRead(0)), WithEcho('R', Filled(32, 0xFF)));
    EXPECT_EQ(box.Target.Flash[0], 0x12);
    EXPECT_EQ(box.Target.Flash[0x40], 0xFF);
    EXPECT_EQ(box.Target.Eeprom[0], 0xFF);
}

// One write and its read-back of the 32-byte block at 'address'; true when they agree.
// The same data every time, so flash bits that only fall cannot cause a mismatch.
bool WriteAndReadBack(BoxModel& box, bool flash, uint32_t address, const Bytes& data) {
    if (flash) {
        Exchange(box, FlashWrite(address, data, true));
        Exchange(box, StorePage(address, data[0]));
        return Exchange(box, FlashRead(address)) == WithEcho('R', data);
    }
    Exchange(box, EepromWrite(address, data));
    return Exchange(box, EepromRead(address)) == WithEcho('r', data);
}

TEST(ReadBackFaults, FlakyDiffersThatManyTimesStuckNeverMatches) {
    const struct {
        const char* Name;
        bool Flash;
        bool Stuck;
        int Times;
    } cases[] = {
        {"flaky flash", true, false, 3},
        {"stuck flash", true, true, 0},
        {"flaky EEPROM", false, false, 2},
        {"stuck EEPROM", false, true, 0},
    };
    constexpr uint32_t Fault = 0x45, Block = 0x40;
    constexpr int Rounds = 6;
    for (const auto& c : cases) {
        BoxConfig config;
        if (c.Stuck)
            (c.Flash ? config.StuckFlash : config.StuckEeprom).insert(Fault);
        else
            (c.Flash ? config.FlakyFlash : config.FlakyEeprom)[Fault] = c.Times;
        BoxModel box = ProgrammingBox("ATmega644P", config);
        int mismatches = 0;
        for (int round = 0; round < Rounds; ++round)
            if (!WriteAndReadBack(box, c.Flash, Block, Counting(32, 0x30))) ++mismatches;
        EXPECT_EQ(mismatches, c.Stuck ? Rounds : c.Times) << c.Name;
        EXPECT_TRUE(WriteAndReadBack(box, c.Flash, Block + 32, Filled(32, 0x00))) << c.Name;
    }
}

// The EEPROM saved before the erase must come back true, or the run would lose it.
TEST(ReadBackFaults, APlainReadShowsTheTrueContentAndKeepsTheFault) {
    BoxConfig config;
    config.FlakyEeprom[0x20] = 1;
    BoxModel box = ProgrammingBox("ATmega644P", config);
    std::fill(box.Target.Eeprom.begin() + 0x20, box.Target.Eeprom.begin() + 0x40, 0x5A);
    EXPECT_EQ(Exchange(box, EepromRead(0x20)), WithEcho('r', Filled(32, 0x5A)));
    EXPECT_FALSE(WriteAndReadBack(box, false, 0x20, Filled(32, 0x5A)));
    EXPECT_TRUE(WriteAndReadBack(box, false, 0x20, Filled(32, 0x5A)));
}

TEST(ReadBackFaults, APageFaultShowsOnlyInTheBlockThatHoldsIt) {
    BoxConfig config;
    config.FlakyFlash[0x1A0] = 1;
    BoxModel box = ProgrammingBox("ATmega644P", config);
    ProgramPage(box, 0x180, Filled(128, 0x00));
    EXPECT_EQ(ReadFlash(box, 0x180, 32), Filled(32, 0x00));
    EXPECT_NE(ReadFlash(box, 0x1A0, 32), Filled(32, 0x00));
    EXPECT_EQ(ReadFlash(box, 0x1A0, 32), Filled(32, 0x00));
}

TEST(WriteDelays, TheChipsWriteTimeSitsOnTheNextAnswer) {
    const struct {
        const char* Name;
        const char* Chip;
        Bytes Frame;
        uint32_t DelayUs;
    } cases[] = {
        {"page store", "ATmega644P", StorePage(0, 0xFF), chiptime::FlashPageUs},
        {"EEPROM block", "ATmega644P", EepromWrite(0, Filled(32, 0)), 32 * chiptime::EepromByteUs},
        {"byte-mode block", "AT90S2313", FlashWrite(0, Filled(32, 0), false),
         32 * chiptime::FlashByteUs},
        {"chip erase", "ATmega644P", Bytes(std::begin(ChipErase), std::end(ChipErase)),
         chiptime::ChipEraseUs},
        {"page load", "ATmega644P", FlashWrite(0, Filled(32, 0), true), 0},
    };
    for (bool enabled : {true, false}) {
        for (const auto& c : cases) {
            BoxConfig config;
            config.WriteDelays = enabled;
            BoxModel box = ProgrammingBox(c.Chip, config);
            box.Receive(c.Frame.data(), c.Frame.size());
            box.Output.clear();
            box.Receive('V');
            ASSERT_FALSE(box.Output.empty());
            EXPECT_EQ(box.Output.front().DelayUs, enabled ? c.DelayUs : 0) << c.Name;
            EXPECT_EQ(box.Output.back().DelayUs, 0u) << c.Name;
        }
    }
}
}  // namespace

// A production bench: boards are taken off the box and others put on while it runs.
TEST(Boards, RemovedTargetAnswersLikeNoneAndTheNextBoardIsFresh) {
    BoxConfig config;
    config.TargetAbsent = true;
    BoxModel box(config);
    EXPECT_FALSE(EnterProgMode(box));  // nothing on the box yet
    TargetModel fresh(box.Target);
    fresh.Eeprom.assign(fresh.Eeprom.size(), 0x11);
    box.ConnectTarget(fresh);
    ASSERT_TRUE(EnterProgMode(box));
    EXPECT_EQ(Exchange(box, EepromRead(0x40)), WithEcho('r', Filled(32, 0x11)));
    Exchange(box, EepromWrite(0x40, Filled(32, 0x22)));

    box.RemoveTarget();  // in the middle of a transfer
    Exchange(box, EepromWrite(0x60, Filled(32, 0x33)));
    EXPECT_EQ(Exchange(box, EepromRead(0x40)), WithEcho('r', Filled(32, 0xFF)));
    EXPECT_FALSE(EnterProgMode(box));
    EXPECT_EQ(Exchange(box, {'V'}), Bytes({'V', 2, 5}));  // the box itself still answers

    box.ConnectTarget(fresh);
    ASSERT_TRUE(EnterProgMode(box));
    EXPECT_EQ(Exchange(box, EepromRead(0x40)), WithEcho('r', Filled(32, 0x11)));
    EXPECT_EQ(Exchange(box, EepromRead(0x60)), WithEcho('r', Filled(32, 0x11)));
    box.ConnectTarget(TargetModel(box.Target.Chip()));  // one is on already: it stays
    EXPECT_EQ(Exchange(box, EepromRead(0x40)), WithEcho('r', Filled(32, 0x11)));
    EXPECT_EQ(box.TargetsConnected, 2);
}

// A board taken off after a count of received bytes: the box goes on answering, the board
// does not, and one put on later stays on.
TEST(Boards, TargetOffAfterACountOfBytes) {
    BoxConfig config;
    BoxModel counting(config);
    ASSERT_TRUE(EnterProgMode(counting));
    config.TargetOffAfter = counting.BytesReceived + 4;  // after one 'r' frame
    BoxModel box(config);
    box.Target.Eeprom.assign(box.Target.Eeprom.size(), 0x11);
    ASSERT_TRUE(EnterProgMode(box));
    EXPECT_EQ(Exchange(box, EepromRead(0x40)), WithEcho('r', Filled(32, 0x11)));
    EXPECT_TRUE(box.TargetPresent());
    EXPECT_EQ(Exchange(box, EepromRead(0x40)), WithEcho('r', Filled(32, 0xFF)));
    EXPECT_FALSE(box.TargetPresent());
    EXPECT_FALSE(EnterProgMode(box));
    EXPECT_EQ(Exchange(box, {'V'}), Bytes({'V', 2, 5}));
    box.ConnectTarget(TargetModel(box.Target.Chip()));
    EXPECT_TRUE(EnterProgMode(box));
}
