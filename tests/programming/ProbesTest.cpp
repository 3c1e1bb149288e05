#include <gtest/gtest.h>

#include <cerrno>

#include "link/OsErrorText.h"
#include "programming/Probes.h"
#include "tests/support/BoxFactory.h"
#include "tests/support/Trace.h"

namespace {
const std::string NothingAnswered =
    "nothing answered on /dev/ttySIM0: check that the programmer box is on this port and "
    "powered; q40prog-cli ports lists the serial ports of this machine";
const std::string NoChip =
    "the box answers, but no chip does: check the ISP cable and its pin 1, that the device is "
    "powered, and that no fuse has disabled serial programming";
}  // namespace

TEST(Probes, CheckReadsTheVersionWithoutProgrammingMode) {
    BoxFactory f;
    const ProbeResult r = CheckProgrammer("ttySIM0", f.Factory());
    EXPECT_TRUE(r.Ok);
    EXPECT_EQ(r.Text, "KARDO Programmer \"AVR\"  V2.5");
    EXPECT_EQ(f.Box.CommandLetters, "V");
}

TEST(Probes, ChipQueryEndsWithD) {
    BoxConfig c;
    c.Chip = "ATmega2560";
    BoxFactory f(c);
    const ProbeResult r = QueryChipType("ttySIM0", f.Factory());
    EXPECT_TRUE(r.Ok);
    EXPECT_EQ(r.Text, "ATmega2560");
    EXPECT_EQ(f.Box.CommandLetters, "tHLEHLIIID");
    EXPECT_FALSE(f.Box.ProgEnabled);
}

// The query sets the port time to 100 (high byte first) before it enters programming mode.
TEST(Probes, ChipQuerySendsPortTime100First) {
    BoxFactory f;
    ASSERT_TRUE(QueryChipType("ttySIM0", f.Factory()).Ok);
    const std::vector<TraceFrame> frames = SplitTrace(f.Written);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].Letter, 't');
    EXPECT_EQ(frames[0].Tail, (std::vector<uint8_t>{0x00, 0x64}));
    EXPECT_EQ(Letters(frames).substr(1, 5), "HLEHL");
}

// Leaving programming mode belongs to the query: when it fails, the name read before it is
// no result, and the failure is what the user sees.
TEST(Probes, ChipQueryWhoseLeavingFailsGivesNoName) {
    BoxFactory good;
    ASSERT_TRUE(QueryChipType("ttySIM0", good.Factory()).Ok);
    ASSERT_EQ(good.Written.back(), 'D');
    BoxConfig silentAtD;
    silentAtD.DropAfter = static_cast<long long>(good.Written.size()) - 1;
    BoxFactory f(silentAtD);
    const ProbeResult r = QueryChipType("ttySIM0", f.Factory());
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Text, "Programmer not connected.");
    EXPECT_EQ(r.Error.Code, errNotConnected);
    EXPECT_EQ(f.Written, good.Written);  // the D went out; its echo never came
}

TEST(Probes, FailuresGiveTheMessageAndNoName) {
    BoxConfig noTarget;
    noTarget.NoTarget = true;
    BoxConfig silent;
    silent.Silent = true;
    const struct {
        BoxConfig config;
        int openErrno;
        const char* text;
    } cases[] = {
        {{}, ENOENT, "Error opening serial port. Port not available."},
        {{}, EBUSY, "Error opening serial port. Port already in use?"},
        {noTarget, 0, "Unable to enter programming mode."},
        {silent, 0, "Programmer not connected."},
    };
    for (const auto& c : cases) {
        BoxFactory f(c.config);
        f.OpenErrno = c.openErrno;
        const ProbeResult r = QueryChipType("ttySIM0", f.Factory());
        EXPECT_FALSE(r.Ok);
        EXPECT_EQ(r.Text, c.text);
        EXPECT_EQ(r.Error.Code == 0, false);
    }
}

// The fixed text alone; what the system shows about the port (another program holding it,
// brltty, ...) follows as detail lines, for failures a port or a silent box brings only.
TEST(Probes, PortFailuresNameTheSystemsTroublesBesideTheFixedText) {
    BoxConfig silent;
    silent.Silent = true;
    BoxConfig noTarget;
    noTarget.NoTarget = true;
    const std::string troubles =
        "/dev/ttySIM0 is held by minicom (pid 100): end that program, then try again.\n"
        "brltty is installed: ...";
    const struct {
        BoxConfig Config;
        int OpenErrno;
        const char* Text;
        std::string Detail;
    } cases[] = {
        {{}, ENOENT, "Error opening serial port. Port not available.", troubles},
        {{}, EBUSY, "Error opening serial port. Port already in use?", troubles},
        {silent, 0, "Programmer not connected.", NothingAnswered + "\n" + troubles},
        {noTarget, 0, "Unable to enter programming mode.", NoChip},
    };
    for (const auto& c : cases) {
        BoxFactory f(c.Config);
        f.OpenErrno = c.OpenErrno;
        f.Troubles = {
            "/dev/ttySIM0 is held by minicom (pid 100): end that program, then try again.",
            "brltty is installed: ..."};
        const ProbeResult r = CheckProgrammer("ttySIM0", f.Factory());
        const ProbeResult chip = QueryChipType("ttySIM0", f.Factory());
        for (const ProbeResult* p : {&r, &chip}) {
            if (c.Config.NoTarget && p == &r) continue;  // the check needs no target
            EXPECT_FALSE(p->Ok);
            EXPECT_EQ(p->Text, c.Text);
            EXPECT_EQ(p->Error.Detail, c.Detail) << c.Text;
        }
        if (!c.Config.NoTarget) {
            EXPECT_EQ(f.TroublesAsked, (std::vector<bool>{false, false})) << c.Text;
        } else {
            EXPECT_TRUE(f.TroublesAsked.empty());
        }
    }

    // Refused for missing rights: the port doctor's cure, then the troubles without it.
    BoxFactory f;
    f.OpenErrno = EACCES;
    f.Troubles = {"brltty is installed: ..."};
    f.Cure = "/dev/ttySIM0 may be read and written by its owner only (mode 0600): ask ...";
    const ProbeResult r = CheckProgrammer("ttySIM0", f.Factory());
    EXPECT_EQ(r.Text, "Error opening serial port. Port already in use?");
    EXPECT_EQ(r.Error.Detail, "/dev/ttySIM0: " + OsErrorText(EACCES) + ". " + f.Cure +
                                  "\nbrltty is installed: ...");
    EXPECT_EQ(f.TroublesAsked, std::vector<bool>{true});
}

// What the probes' boxes and the command line show below the fixed text: where the box went
// quiet, and the signature of a chip the table does not know.
TEST(Probes, MidQuerySilenceAndUnknownChipsSayWhere) {
    BoxFactory good;
    ASSERT_TRUE(QueryChipType("ttySIM0", good.Factory()).Ok);
    BoxConfig quietInEntry;
    quietInEntry.DropAfter = 4;  // 't', its two bytes, then the first 'H'
    BoxFactory f(quietInEntry);
    const ProbeResult r = QueryChipType("ttySIM0", f.Factory(), false);
    EXPECT_EQ(r.Text, "Programmer not connected.");
    EXPECT_EQ(r.Error.Detail, "the box went quiet while entering programming mode");

    BoxConfig stranger;
    stranger.Chip = "ATmega32";
    BoxFactory unknown(stranger);
    unknown.Box.Target = TargetModel(DeviceEntry{"ATmega32X", 0x95, 0x7E, 0x8000, 0x400, 64});
    const ProbeResult u = QueryChipType("ttySIM0", unknown.Factory());
    EXPECT_EQ(u.Text, "Unknown chip type.");
    EXPECT_EQ(u.Error.Detail,
              "signature bytes read from the chip: 0x95 0x7E; no supported chip has them");
}
