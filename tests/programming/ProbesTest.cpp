#include <gtest/gtest.h>

#include <cerrno>

#include "programming/Probes.h"
#include "tests/support/BoxFactory.h"

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
