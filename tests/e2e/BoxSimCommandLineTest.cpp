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

TEST_F(BoxSimTest, BadOptionsGiveAMessageAndExitCode2) {
    const std::vector<std::vector<std::string>> cases = {
        {"--chip", "ATmega999"}, {"--bogus"}, {"--drop-after"}, {"--latency", "x"},
        {"--flaky-flash", "1"},  {"port"},
    };
    for (const auto& options : cases) {
        std::vector<std::string> argv{Q40_BOXSIM};
        argv.insert(argv.end(), options.begin(), options.end());
        const CommandResult r = RunCommand(argv);
        EXPECT_EQ(r.ExitCode, SimUsageError) << options[0];
        EXPECT_TRUE(r.Out.empty()) << options[0];
        EXPECT_NE(r.Err.find("q40prog-boxsim: "), std::string::npos) << options[0];
    }
}

TEST_F(BoxSimTest, HelpListsTheOptions) {
    const CommandResult r = RunCommand({Q40_BOXSIM, "--help"});
    EXPECT_EQ(r.ExitCode, 0);
    for (const char* option : {"--chip", "--baud-pace", "--latency", "--flaky-flash", "--stats"})
        EXPECT_NE(r.Out.find(option), std::string::npos) << option;
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
