// The simulator's command line.
#include <gtest/gtest.h>

#include <functional>

#include "sim/BoxSimOptions.h"

namespace {
using Args = std::vector<std::string>;

BoxSimOptions Parse(const Args& args) {
    BoxSimOptions o;
    std::string error;
    EXPECT_TRUE(ParseBoxSimOptions(args, o, error)) << error;
    return o;
}

std::string ErrorOf(const Args& args) {
    BoxSimOptions o;
    std::string error;
    EXPECT_FALSE(ParseBoxSimOptions(args, o, error));
    return error;
}

TEST(BoxSimOptions, DefaultsAreAHealthyATmega644PAtVersion2_5) {
    const BoxSimOptions o = Parse({});
    EXPECT_EQ(o.Box.Chip, "ATmega644P");
    EXPECT_EQ(o.Box.VersionMajor, 2);
    EXPECT_EQ(o.Box.VersionMinor, 5);
    EXPECT_FALSE(o.Box.NoTarget || o.Box.BadEcho || o.Box.Silent || o.Box.WriteDelays);
    EXPECT_EQ(o.Box.DropAfter, -1);
    EXPECT_FALSE(o.Wire.BaudPace || o.Wire.WriteDelays);
    EXPECT_EQ(o.Wire.LatencyMs, 0);
    EXPECT_FALSE(o.Stats || o.Help);
}

TEST(BoxSimOptions, EachOptionSetsItsField) {
    const struct {
        Args Given;
        std::function<bool(const BoxSimOptions&)> Holds;
    } cases[] = {
        {{"--chip", "ATmega2560"}, [](auto& o) { return o.Box.Chip == "ATmega2560"; }},
        {{"--chip=ATtiny13"}, [](auto& o) { return o.Box.Chip == "ATtiny13"; }},
        {{"--version", "129.0"},
         [](auto& o) { return o.Box.VersionMajor == 129 && o.Box.VersionMinor == 0; }},
        {{"--link", "/tmp/x"}, [](auto& o) { return o.LinkPath == "/tmp/x"; }},
        {{"--flash-in", "f", "--eeprom-in", "e"},
         [](auto& o) { return o.FlashIn == "f" && o.EepromIn == "e"; }},
        {{"--dump-flash", "f", "--dump-eeprom", "e"},
         [](auto& o) { return o.DumpFlash == "f" && o.DumpEeprom == "e"; }},
        {{"--no-target", "--bad-echo", "--silent"},
         [](auto& o) { return o.Box.NoTarget && o.Box.BadEcho && o.Box.Silent; }},
        {{"--drop-after", "0"}, [](auto& o) { return o.Box.DropAfter == 0; }},
        {{"--drop-after", "0x100"}, [](auto& o) { return o.Box.DropAfter == 256; }},
        {{"--enable-on-attempt", "64"}, [](auto& o) { return o.Box.EnableOnAttempt == 64; }},
        {{"--target-off-after", "0x1000"}, [](auto& o) { return o.Box.TargetOffAfter == 4096; }},
        {{"--baud-pace"}, [](auto& o) { return o.Wire.BaudPace; }},
        {{"--write-delays"}, [](auto& o) { return o.Wire.WriteDelays && o.Box.WriteDelays; }},
        {{"--latency", "16"}, [](auto& o) { return o.Wire.LatencyMs == 16; }},
        {{"--flaky-flash", "0x100:3", "--flaky-flash", "64:1"},
         [](auto& o) { return o.Box.FlakyFlash.at(0x100) == 3 && o.Box.FlakyFlash.at(64) == 1; }},
        {{"--stuck-flash", "0xFFFF", "--stuck-flash", "0"},
         [](auto& o) {
             return o.Box.StuckFlash == std::set<uint32_t>{0, 0xFFFF};
         }},
        {{"--flaky-eeprom", "0x7FF:2"}, [](auto& o) { return o.Box.FlakyEeprom.at(0x7FF) == 2; }},
        {{"--stuck-eeprom", "32"}, [](auto& o) { return o.Box.StuckEeprom.count(32) == 1; }},
        {{"--stuck-fuse", "hi", "--stuck-fuse=EX"},
         [](auto& o) {
             return o.Box.StuckFuses == std::set<FuseByte>{FuseByte::Hi, FuseByte::Ex};
         }},
        {{"--stats"}, [](auto& o) { return o.Stats && o.StatsFile.empty(); }},
        {{"--stats", "--silent"}, [](auto& o) { return o.Stats && o.StatsFile.empty(); }},
        {{"--stats", "s.txt"}, [](auto& o) { return o.Stats && o.StatsFile == "s.txt"; }},
        {{"--stats=s.txt"}, [](auto& o) { return o.Stats && o.StatsFile == "s.txt"; }},
        {{"--help"}, [](auto& o) { return o.Help; }},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const std::string& a : c.Given) joined += a + " ";
        EXPECT_TRUE(c.Holds(Parse(c.Given))) << joined;
    }
}

TEST(BoxSimOptions, BadInputIsRefusedWithAMessageThatNamesIt) {
    const struct {
        Args Given;
        const char* Mentions;
    } cases[] = {
        {{"--chip", "ATmega999"}, "ATmega999"},
        {{"--chip"}, "needs a value"},
        {{"--chip="}, "needs a value"},
        {{"--version", "2"}, "MAJOR.MINOR"},
        {{"--version", "2.256"}, "MAJOR.MINOR"},
        {{"--version", "-1.0"}, "MAJOR.MINOR"},
        {{"--drop-after", "-1"}, "--drop-after"},
        {{"--drop-after", "ten"}, "--drop-after"},
        {{"--target-off-after", "-1"}, "--target-off-after"},
        {{"--enable-on-attempt", "0"}, "counts from 1"},
        {{"--latency", "1.5"}, "--latency"},
        {{"--latency", "10001"}, "--latency"},
        {{"--flaky-flash", "0x100"}, "ADDR:N"},
        {{"--flaky-flash", "0x100:0"}, "ADDR:N"},
        {{"--flaky-flash", "zz:1"}, "ADDR:N"},
        {{"--stuck-flash", "0x10000"}, "outside"},
        {{"--chip", "ATmega2560", "--stuck-flash", "0x40000"}, "outside"},
        {{"--stuck-eeprom", "0x800"}, "outside"},
        {{"--flaky-eeprom", "2048:1"}, "outside"},
        {{"--silent=yes"}, "takes no value"},
        {{"--stuck-fuse", "high"}, "--stuck-fuse wants lo, hi or ex, not 'high'"},
        {{"--stuck-fuse="}, "--stuck-fuse needs a value"},
        {{"--chip", "ATmega8", "--stuck-fuse", "ex"}, "the ATmega8 has no ex fuse to stick"},
        {{"--chip", "AT90S2313", "--stuck-fuse", "lo"}, "the AT90S2313 has no lo fuse to stick"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"ttyUSB0"}, "unexpected argument 'ttyUSB0'"},
        // The first problem on the command line is the one named.
        {{"--latency", "x", "--bogus"}, "--latency wants a number"},
        {{"--bogus", "--latency", "x"}, "unknown option '--bogus'"},
        {{"--chip=", "--silent"}, "--chip needs a value"},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const std::string& a : c.Given) joined += a + " ";
        EXPECT_NE(ErrorOf(c.Given).find(c.Mentions), std::string::npos) << joined;
    }
}

TEST(BoxSimOptions, NumbersAreDecimalOrHexWithNothingElse) {
    const struct {
        const char* Text;
        bool Ok;
        unsigned long long Value;
    } cases[] = {
        {"0", true, 0},       {"123", true, 123}, {"0x7B", true, 123},
        {"0X7b", true, 123},  {"077", true, 77},  {"", false, 0},
        {"0x", false, 0},     {"-1", false, 0},   {"+1", false, 0},
        {"12a", false, 0},    {"1 ", false, 0},   {" 1", false, 0},
        {"1000", true, 1000}, {"1001", false, 0}, {"99999999999999999999999", false, 0},
    };
    for (const auto& c : cases) {
        unsigned long long v = 0;
        EXPECT_EQ(ParseAddressOrCount(c.Text, 1000, v), c.Ok) << '"' << c.Text << '"';
        if (c.Ok) {
            EXPECT_EQ(v, c.Value) << c.Text;
        }
    }
}
}  // namespace
