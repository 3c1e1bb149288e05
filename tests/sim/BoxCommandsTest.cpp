// The box's command letters, programming-mode entry and fault switches, in process.
#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/sim/BoxDriver.h"

namespace {
struct CommandCase {
    const char* Name;
    Bytes Frame;
    Bytes Answer;
};

TEST(BoxCommands, EachLetterIsEchoedAndTakesItsWholeFrame) {
    const CommandCase cases[] = {
        {"H", {'H'}, {'H'}},
        {"L", {'L'}, {'L'}},
        {"E", {'E'}, {'E'}},
        {"P", {'P'}, {'P'}},
        {"D", {'D'}, {'D'}},
        {"t", {'t', 0x01, 0x2C}, {'t'}},
        {"V", {'V'}, {'V', 2, 5}},
        {"I", {'I', 0x30, 0x00, 0x01, 0x00, 0}, {'I', 0, 0, 0, 0}},
        {"r", EepromRead(0), WithEcho('r', Filled(32, 0xFF))},
        {"R", FlashRead(0), WithEcho('R', Filled(32, 0xFF))},
        {"w", EepromWrite(0, Filled(32, 0)), {'w'}},
        {"W", FlashWrite(0, Filled(32, 0), true), {'W'}},
        {"S", StorePage(0, 0), {'S'}},
    };
    for (const CommandCase& c : cases) {
        BoxModel box({});
        // A 'V' right after shows that the frame's last byte was not taken for a letter.
        EXPECT_EQ(Exchange(box, Cat({c.Frame, {'V'}})), Cat({c.Answer, {'V', 2, 5}})) << c.Name;
    }
}

TEST(BoxCommands, BytesOutsideAFrameThatAreNoLetterGetNoAnswer) {
    BoxModel box({});
    EXPECT_TRUE(Exchange(box, {'x', 0x00, 0xFF, 'v'}).empty());
    EXPECT_EQ(Exchange(box, {'V'}), (Bytes{'V', 2, 5}));
}

TEST(BoxCommands, VersionBytesComeFromTheConfiguration) {
    BoxConfig c;
    c.VersionMajor = 0x81;
    c.VersionMinor = 0;
    BoxModel box(c);
    EXPECT_EQ(Exchange(box, {'V'}), (Bytes{'V', 0x81, 0}));
}

TEST(BoxCommands, ResetForgetsAHalfReceivedFrame) {
    BoxModel box({});
    Exchange(box, {'R', 0x00, 0x01});
    box.Reset();
    EXPECT_EQ(Exchange(box, {'V'}), (Bytes{'V', 2, 5}));
}

TEST(BoxCommands, UnknownChipNameIsRefused) {
    BoxConfig c;
    c.Chip = "ATmega999";
    EXPECT_THROW(BoxModel{c}, std::invalid_argument);
}

struct EnableCase {
    const char* Name;
    Bytes Before;  // what the box gets before the Programming Enable instruction
    bool NoTarget;
    bool Answers;
};

TEST(ProgrammingEnable, AnswersOnlyAfterTheEntrySequence) {
    const EnableCase cases[] = {
        {"entry", Entry(), false, true},
        {"entry after other letters", Cat({{'V', 'D', 'H'}, Entry()}), false, true},
        {"no entry", {}, false, false},
        {"entry cut short", {'H', 'L', 'E', 'H'}, false, false},
        {"letters out of order", {'H', 'E', 'L', 'H', 'L'}, false, false},
        {"entry, then D", Cat({Entry(), {'D'}}), false, false},
        {"no target", Entry(), true, false},
    };
    for (const EnableCase& c : cases) {
        BoxConfig config;
        config.NoTarget = c.NoTarget;
        BoxModel box(config);
        Exchange(box, c.Before);
        const Bytes a = Exchange(box, ProgrammingEnable());
        ASSERT_EQ(a.size(), 5u) << c.Name;
        EXPECT_EQ(a[3] == 0x53, c.Answers) << c.Name;
        EXPECT_EQ(box.ProgEnabled, c.Answers) << c.Name;
    }
}

TEST(ProgrammingEnable, FirstSucceedsAtTheConfiguredAttempt) {
    BoxConfig c;
    c.EnableOnAttempt = 64;
    BoxModel box(c);
    Exchange(box, Entry());
    for (int attempt = 1; attempt < 64; ++attempt) {
        EXPECT_NE(Exchange(box, ProgrammingEnable())[3], 0x53) << attempt;
        Exchange(box, {'P'});
    }
    EXPECT_EQ(Exchange(box, ProgrammingEnable())[3], 0x53);
    EXPECT_EQ(box.EnableAttempts, 64);
}

TEST(Signature, EachChipAnswersWithItsOwnBytes) {
    const struct {
        const char* Chip;
        uint8_t Sig1, Sig2;
    } cases[] = {{"ATmega644P", 0x96, 0x0A},
                 {"ATmega2560", 0x98, 0x01},
                 {"ATmega32A", 0x95, 0x02},
                 {"AT90S2313", 0x91, 0x01}};
    for (const auto& c : cases) {
        BoxConfig config;
        config.Chip = c.Chip;
        BoxModel box(config);
        ASSERT_TRUE(EnterProgMode(box));
        EXPECT_EQ(Exchange(box, {'I', 0x30, 0x00, 0x00, 0x00, 0})[4], 0x1E) << c.Chip;
        EXPECT_EQ(Exchange(box, {'I', 0x30, 0x00, 0x01, 0x00, 0})[4], c.Sig1) << c.Chip;
        EXPECT_EQ(Exchange(box, {'I', 0x30, 0x00, 0x02, 0x00, 0})[4], c.Sig2) << c.Chip;
    }
}

TEST(Signature, IsNotAnsweredOutsideProgrammingMode) {
    BoxModel box({});
    EXPECT_EQ(Exchange(box, {'I', 0x30, 0x00, 0x01, 0x00, 0}), (Bytes{'I', 0, 0, 0, 0}));
}

TEST(Faults, BadEchoAltersEveryLetterButKeepsTheFrame) {
    BoxConfig c;
    c.BadEcho = true;
    BoxModel box(c);
    for (uint8_t letter : {'H', 'L', 'E', 'P', 'D', 'V', 'I', 'R'}) {
        Bytes frame = {letter};
        if (letter == 'I') frame = ProgrammingEnable();
        if (letter == 'R') frame = FlashRead(0);
        const Bytes a = Exchange(box, frame);
        ASSERT_FALSE(a.empty());
        EXPECT_NE(a[0], letter) << letter;
    }
    EXPECT_EQ(Exchange(box, {'V'}).size(), 3u);
}

TEST(Faults, SilentBoxAnswersNothing) {
    BoxConfig c;
    c.Silent = true;
    BoxModel box(c);
    EXPECT_TRUE(Exchange(box, Cat({{'V'}, Entry(), ProgrammingEnable(), FlashRead(0)})).empty());
}

TEST(Faults, DropAfterStopsAnsweringOnceThatManyBytesCameIn) {
    const struct {
        const char* Name;
        long long DropAfter;
        Bytes Stream;
        Bytes Answer;
    } cases[] = {
        {"before anything", 0, {'V'}, {}},
        {"after one command", 1, {'V', 'V'}, {'V', 2, 5}},
        {"inside a read frame", 3, FlashRead(0), {'R'}},
        {"right after a read frame", 5, Cat({FlashRead(0), {'V'}}),
         WithEcho('R', Filled(32, 0xFF))},
    };
    for (const auto& c : cases) {
        BoxConfig config;
        config.DropAfter = c.DropAfter;
        BoxModel box(config);
        EXPECT_EQ(Exchange(box, c.Stream), c.Answer) << c.Name;
        EXPECT_TRUE(Exchange(box, {'V'}).empty()) << c.Name;
    }
}

TEST(Disable, LeavesProgrammingModeAndRunsTheHookAfterTheEcho) {
    BoxModel box({});
    int calls = 0;
    box.OnDisable = [&] {
        ++calls;
        ASSERT_FALSE(box.Output.empty());
        EXPECT_EQ(box.Output.back().Value, 'D');
    };
    ASSERT_TRUE(EnterProgMode(box));
    Exchange(box, {'D'});
    EXPECT_FALSE(box.ProgEnabled);
    EXPECT_EQ(calls, 1);
    Exchange(box, {'D', 'D'});
    EXPECT_EQ(calls, 3);
}
}  // namespace
