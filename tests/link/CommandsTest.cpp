// Programmer commands as byte traces against the in-process box.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/LinkOnBox.h"
#include "tests/support/ScriptedPort.h"
#include "tests/support/TestData.h"

namespace {
using Bytes = std::vector<uint8_t>;

long CountOf(const std::string& s, char c) {
    return static_cast<long>(std::count(s.begin(), s.end(), c));
}

EProgError FailureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EProgError& e) {
        return e;
    }
    ADD_FAILURE() << "no failure";
    return EProgError(NoFailure);
}

// Bytes an identification sends, open to signature: where a fault placed after them bites.
long long IdentifyBytes() {
    LinkOnBox t;
    t.Identify();
    return static_cast<long long>(t.Port->Written.size());
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

// Codes 4, 8 and 9 come with what to act on, on the detail line: nothing ever answered on the
// port, or what the box was doing (and at which address) when it went quiet; the box without a
// chip; the signature that no chip of the table has.
TEST(Commands, SilenceAndMissingChipsSayWhatToActOn) {
    const long long identified = IdentifyBytes();
    const struct {
        const char* Title;
        long long DropAfter;  // bytes after the identification; -1: a silent box
        std::function<void(TIspLink&)> Call;
        std::string Detail;
    } cases[] = {
        {"silent box", -1, [](TIspLink& l) { l.ReadVersion(); },
         "nothing answered on /dev/ttySIM0: check that the programmer box is on this port and "
         "powered; q40prog-cli ports lists the serial ports of this machine"},
        {"eeprom read, second block", 4, [](TIspLink& l) { l.ReadEeprom(); },
         "the box went quiet while reading the eeprom at address 0x0020"},
        {"flash, second block of the first page", 39,
         [](TIspLink& l) {
             std::fill(l.FlashImage, l.FlashImage + l.Device.FlashSize, 0x00);
             l.ProgramFlash();
         },
         "the box went quiet while programming the flash at address 0x0020"},
        {"erase", 0, [](TIspLink& l) { l.EraseChip(); },
         "the box went quiet while erasing the chip"},
        {"a fuse write of the run's own", 0,
         [](TIspLink& l) { l.IspCommand(0xAC, 0xA0, 0x00, 0xE2, isp::FuseParam); },
         "the box went quiet at the ISP instruction 0xAC 0xA0 0x00 0xE2"},
        {"leaving programming mode", 0, [](TIspLink& l) { l.DisableProgMode(); },
         "the box went quiet while leaving programming mode"},
    };
    for (const auto& c : cases) {
        BoxConfig config;
        config.Silent = c.DropAfter < 0;
        config.DropAfter = c.DropAfter < 0 ? -1 : identified + c.DropAfter;
        LinkOnBox t(config);
        if (c.DropAfter >= 0) {
            t.Identify();
        } else {
            t.Link->OpenPort("ttySIM0");
            t.Link->ResetProgrammer();
        }
        const EProgError e = FailureOf([&] { c.Call(*t.Link); });
        EXPECT_EQ(e.Code, errNotConnected) << c.Title;
        EXPECT_EQ(e.Detail, c.Detail) << c.Title;
    }

    BoxConfig none;
    none.NoTarget = true;
    LinkOnBox noChip(none);
    noChip.Link->OpenPort("ttySIM0");
    const EProgError refused = FailureOf([&] { noChip.Link->EnableProgMode(); });
    EXPECT_EQ(refused.Code, errProgMode);
    EXPECT_EQ(refused.Detail,
              "the box answers, but no chip does: check the ISP cable and its pin 1, that the "
              "device is powered, and that no fuse has disabled serial programming");

    FakeClock clock;
    auto owned = std::make_unique<ScriptedPort>();
    ScriptedPort& port = *owned;
    TIspLink link(std::move(owned), clock);
    link.OpenPort("ttyUSB0");
    port.Queue({'I', 0x00, 0x30, 0x00, 0x95, 'I', 0x00, 0x30, 0x00, 0x0F});
    const EProgError unknown = FailureOf([&] { link.ReadChipType(); });
    EXPECT_EQ(unknown.Code, errUnknownChip);
    EXPECT_EQ(unknown.Detail,
              "signature bytes read from the chip: 0x95 0x0F; no supported chip has them");
}

// Asked again after a failure, the chip answers with its own signature until the board is
// taken off; a box that went quiet fails the question as it fails any command.
TEST(Commands, ChipAnswersUntilTheBoardIsTakenOff) {
    LinkOnBox t;
    t.Link->OpenPort("ttySIM0");
    t.Link->ResetProgrammer();
    EXPECT_FALSE(t.Link->InProgrammingMode());
    t.Link->SetPortTime(100);
    t.Link->EnableProgMode();
    EXPECT_TRUE(t.Link->InProgrammingMode());
    EXPECT_TRUE(t.Link->ChipAnswers());  // not identified yet: any chip of the table
    t.Link->ReadChipType();
    EXPECT_TRUE(t.Link->ChipAnswers());
    const std::size_t sent = t.Port->Written.size();
    t.Box.RemoveTarget();
    EXPECT_FALSE(t.Link->ChipAnswers());
    EXPECT_EQ(std::vector<uint8_t>(t.Port->Written.begin() + static_cast<long>(sent),
                                   t.Port->Written.end()),
              (Bytes{'I', 0x30, 0x00, 0x01, 0x00, 0x00, 'I', 0x30, 0x00, 0x02, 0x00, 0x00}));
    t.Link->DisableProgMode();
    EXPECT_FALSE(t.Link->InProgrammingMode());

    BoxConfig silent;
    silent.DropAfter = 0;
    LinkOnBox quiet(silent);
    quiet.Link->OpenPort("ttySIM0");
    EXPECT_EQ(CodeOf([&] { quiet.Link->ChipAnswers(); }), errNotConnected);
}
