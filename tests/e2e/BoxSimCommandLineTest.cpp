// q40prog-boxsim's own command line: options, link, dumps and statistics.
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "sim/WireStats.h"
#include "tests/e2e/BoxSimFixture.h"

namespace {
constexpr int SimUsageError = 2;

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The whole message on stderr, then where the options are listed; nothing on stdout.
TEST_F(BoxSimTest, BadOptionsGiveTheirMessageAndExitCode2) {
    const struct {
        std::vector<std::string> Options;
        std::string Message;
    } cases[] = {
        {{"--chip", "ATmega999"},
         "unknown chip 'ATmega999'; known chips: AT90S2313, AT90S8515, ATtiny13, ATtiny2313, "
         "ATmega48, ATmega8515, ATmega8, ATmega88, ATmega16, ATmega163, ATmega168, ATmega32, "
         "ATmega32A, ATmega64, ATmega128, ATmega644, ATmega644P, ATmega2560"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"--silent", "--bogus=1"}, "unknown option '--bogus'"},
        {{"--stats", "-x"}, "unknown option '-x'"},
        {{"--help", "--bogus"}, "unknown option '--bogus'"},
        {{"port"}, "unexpected argument 'port'"},
        {{"--drop-after"}, "--drop-after needs a value"},
        {{"--chip="}, "--chip needs a value"},
        {{"--silent=yes"}, "--silent takes no value"},
        {{"--latency", "x"}, "--latency wants a number from 0 to 10000, not 'x'"},
        {{"--drop-after", "-1"}, "--drop-after wants a number from 0 to 1000000000, not '-1'"},
        {{"--enable-on-attempt", "0"}, "--enable-on-attempt counts from 1"},
        {{"--version", "2"}, "--version wants MAJOR.MINOR with numbers from 0 to 255, not '2'"},
        {{"--flaky-flash", "1"}, "--flaky-flash wants ADDR:N with N at least 1, not '1'"},
        {{"--stuck-eeprom", "0x800"},
         "fault address 2048 lies outside the 2048-byte EEPROM of the ATmega644P"},
        {{"--stuck-fuse", "lx"}, "--stuck-fuse wants lo, hi or ex, not 'lx'"},
        {{"--chip", "ATtiny13", "--stuck-fuse", "ex"}, "the ATtiny13 has no ex fuse to stick"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv{Q40_BOXSIM};
        argv.insert(argv.end(), c.Options.begin(), c.Options.end());
        const CommandResult r = RunCommand(argv);
        EXPECT_EQ(r.ExitCode, SimUsageError) << c.Options[0];
        EXPECT_TRUE(r.Out.empty()) << c.Options[0];
        EXPECT_EQ(r.Err,
                  "q40prog-boxsim: " + c.Message + "\n(q40prog-boxsim --help lists the options)\n")
            << c.Options[0];
    }
}

TEST_F(BoxSimTest, HelpIsTheTextAsWritten) {
    std::ifstream in(std::string(Q40_HELP_FOLDER) + "/boxsim.txt", std::ios::binary);
    std::stringstream golden;
    golden << in.rdbuf();
    const CommandResult r = RunCommand({Q40_BOXSIM, "--help"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out, golden.str());
    EXPECT_EQ(r.Err, "");
}

TEST_F(BoxSimTest, UnreadableImageStopsTheStart) {
    EXPECT_FALSE(Sim.Start({"--flash-in", Scratch("missing.bin")}));
    EXPECT_NE(Sim.Error().find("exit code 1"), std::string::npos) << Sim.Error();
}

TEST_F(BoxSimTest, LinkNamesThePortUntilTheBoxStops) {
    const std::string link = Scratch("ttyBOX");
    StartBox({"--link", link, "--chip", "ATmega2560"});
    const CommandResult r = Cli({"chip", "--port", link});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "ATmega2560\n");
    EXPECT_EQ(StopBox(), 0);
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0);
}

TEST_F(BoxSimTest, StatsCountTheBytesOfBothDirections) {
    StartBox({"--stats", Scratch("stats")});
    ASSERT_EQ(Cli({"check", "--port", Port()}).ExitCode, 0);
    EXPECT_EQ(StopBox(), 0);
    WireStats stats;
    ASSERT_TRUE(ParseWireStats(ReadText(Scratch("stats")), stats));
    EXPECT_EQ(stats.Received, 1);  // 'V'
    EXPECT_EQ(stats.Sent, 3);      // its echo and two version bytes
}

TEST_F(BoxSimTest, PreloadedMemoriesAreDumpedAtExit) {
    std::vector<uint8_t> flash(0x10000, 0xFF), eeprom(0x800, 0xFF);
    for (std::size_t i = 0; i < 300; ++i) flash[i] = static_cast<uint8_t>(i);
    eeprom[0x7FF] = 0x42;
    WriteBytes(Scratch("flash.in"), std::vector<uint8_t>(flash.begin(), flash.begin() + 300));
    WriteBytes(Scratch("eeprom.in"), eeprom);
    StartBox({"--flash-in", Scratch("flash.in"), "--eeprom-in", Scratch("eeprom.in"),
              "--dump-flash", Scratch("flash.out"), "--dump-eeprom", Scratch("eeprom.out")});
    EXPECT_EQ(StopBox(), 0);
    EXPECT_TRUE(ReadBytes(Scratch("flash.out")) == flash);
    EXPECT_TRUE(ReadBytes(Scratch("eeprom.out")) == eeprom);
}
}  // namespace
