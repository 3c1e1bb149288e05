// q40prog-cli's own command line: every --help text byte for byte, and the exit code and the
// whole message of the usual usage errors. No box is needed: nothing here opens a port.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/e2e/BoxSimFixture.h"
#include "tests/e2e/CommandRun.h"

namespace {
constexpr int CliUsage = 2;

// The help texts as they stand in tests/e2e/help/.
std::string Golden(const std::string& name) {
    std::ifstream in(std::string(Q40_HELP_FOLDER) + "/" + name + ".txt", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    EXPECT_FALSE(s.str().empty()) << name;
    return s.str();
}

CommandResult Cli(std::vector<std::string> args) {
    args.insert(args.begin(), Q40_CLI);
    return RunCommand(args);
}

std::string Joined(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& a : args) text += a + " ";
    return text;
}

const char* const CommandNames[] = {
    "check",   "chip",  "doctor", "image",  "items",          "ledger", "pending", "ports",
    "program", "prune", "read",   "report", "restore-eeprom", "select", "station", "verify"};

TEST(CliCommandLine, HelpTextsAreAsWritten) {
    for (const std::vector<std::string>& asked :
         std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"help"}}) {
        const CommandResult r = Cli(asked);
        EXPECT_EQ(r.ExitCode, 0) << asked[0];
        EXPECT_EQ(r.Out, Golden("main")) << asked[0];
        EXPECT_EQ(r.Err, "") << asked[0];
    }
    const CommandResult bare = Cli({});
    EXPECT_EQ(bare.ExitCode, CliUsage);
    EXPECT_EQ(bare.Out, "");
    EXPECT_EQ(bare.Err, Golden("main"));

    for (const char* name : CommandNames) {
        // --help or -h anywhere asks for help, even where an option wanted a value.
        for (const std::vector<std::string>& asked : std::vector<std::vector<std::string>>{
                 {name, "--help"}, {name, "--port", "-h"}, {name, "--bogus", "x", "--help"}}) {
            const CommandResult r = Cli(asked);
            EXPECT_EQ(r.ExitCode, 0) << Joined(asked);
            EXPECT_EQ(r.Out, Golden(name)) << Joined(asked);
            EXPECT_EQ(r.Err, "") << Joined(asked);
        }
    }
}

// The problem's line, then the command's usage, on stderr; nothing on stdout.
TEST(CliCommandLine, UsageErrorsNameTheProblemAndShowTheUsage) {
    const struct {
        std::vector<std::string> Args;
        const char* Problem;
    } cases[] = {
        {{"program", "--port"}, "option --port needs a value"},
        {{"program", "--port=A", "--firmware"}, "option --firmware needs a value"},
        {{"program", "--bogus"}, "unknown option --bogus"},
        {{"program", "--port", "A", "--bogus=1", "--firmware"}, "unknown option --bogus=1"},
        {{"program", "--port", "A", "--firmware", "f", "--keep-device-eeprom=1"},
         "unknown option --keep-device-eeprom=1"},
        {{"program", "--firmware", "f"}, "--port is required"},
        {{"program", "--port=", "--firmware", "f"}, "--port is required"},
        {{"program", "--port", "A"}, "--firmware or --item is required"},
        {{"program", "--port", "A", "--item", "0x5"}, "--item takes a number from 1 to 99"},
        {{"program", "--port", "A", "--item", "1", "--fuse-lo", "0xE2"},
         "--fuse-lo does not go with --item: the item's processor entry gives it"},
        {{"program", "--port", "A", "--item", "1", "--firmware", "f"},
         "give either --firmware or --item"},
        {{"program", "--port", "A", "--firmware", "f", "--catalogue", "Q.INI"},
         "--catalogue goes with --item"},
        {{"program", "--port", "A", "--firmware", "f", "--bootloader", "4KB"},
         "--bootloader needs a number, not '4KB'"},
        {{"program", "--port", "A", "--firmware", "f", "extra"}, "unexpected argument"},
        // An unset variable in a script must not skip a fuse or the speed unseen.
        {{"program", "--port", "A", "--firmware", "f", "--fuse-lo", ""},
         "--fuse-lo needs a value, not an empty one"},
        {{"program", "--port", "A", "--firmware", "f", "--fuse-hi="},
         "--fuse-hi needs a value, not an empty one"},
        {{"program", "--port", "A", "--firmware", "f", "--speed", ""},
         "--speed needs a value, not an empty one"},
        {{"station", "--port", "A", "--firmware", "f", "--fuse-ex="},
         "--fuse-ex needs a value, not an empty one"},
        {{"program", "--port", "A", "--firmware", "f", "--bootloader", ""},
         "--bootloader needs a number, not ''"},
        // Of two values one would win unseen.
        {{"program", "--port", "A", "--firmware", "f", "--fuse-hi", "0xD9", "--fuse-hi", "0x99"},
         "option --fuse-hi is given twice"},
        {{"program", "--port", "A", "--firmware", "f", "--firmware", "f"},
         "option --firmware is given twice"},
        {{"program", "--port", "A", "--item", "1", "--allow-isp-lockout", "--allow-isp-lockout"},
         "option --allow-isp-lockout is given twice"},
        {{"station", "--port", "A", "--item", "1", "--item=2"}, "option --item is given twice"},
        {{"chip", "--port", "A", "--port", "B"}, "option --port is given twice"},
        {{"program", "--port", "A", "--firmware", "f", "--use-eeprom-copy", "c.bin",
          "--keep-device-eeprom"},
         "give either --use-eeprom-copy or --keep-device-eeprom"},
        {{"program", "--port", "A", "--port", "B", "--firmware", "f", "--use-eeprom-copy", "c"},
         "--use-eeprom-copy goes with one --port"},
        {{"station", "--port", "A", "--port", "A", "--firmware", "f"}, "A is given twice"},
        {{"station", "--port", "A", "--use-eeprom-copy", "c"}, "unknown option --use-eeprom-copy"},
        {{"image"}, "exactly one FILE is needed"},
        {{"image", "f.hex", "--length", "x"}, "--length needs a number, not 'x'"},
        {{"image", "f.hex", "--length"}, "option --length needs a value"},
        {{"items", "--catalogue="}, "--catalogue needs a file name"},
        {{"pending", "--forget", ""}, "--forget needs a copy"},
        {{"ports", "--details=yes"}, "unknown option --details=yes"},
        {{"ports", "-x"}, "unexpected argument"},
        {{"check"}, "--port is required"},
        {{"chip", "x", "--port", "A"}, "unexpected argument"},
        {{"doctor", "--port"}, "option --port needs a value"},
        {{"restore-eeprom", "--port", "A"}, "give exactly one EEPROM copy"},
        {{"restore-eeprom", "--port", "A", ""}, "the EEPROM copy's file name is empty"},
        {{"select"}, "give exactly one identifier"},
        {{"read"}, "--port is required"},
        {{"read", "--port", "A", "x"}, "unexpected argument"},
        {{"read", "--port", "A", "--save="}, "--save needs a folder"},
        {{"read", "--port", "A", "--json=1"}, "unknown option --json=1"},
        {{"verify", "--port", "A"}, "--firmware or --item is required"},
        {{"verify", "--firmware", "f"}, "--port is required"},
        {{"verify", "--port", "A", "--item", "1", "--firmware", "f"},
         "give either --firmware or --item"},
        {{"verify", "--port", "A", "--item", "100"}, "--item takes a number from 1 to 99"},
        {{"verify", "--port", "A", "--item", "2", "--bootloader", "9"},
         "--bootloader does not go with --item: the item's processor entry gives it"},
        {{"verify", "--port", "A", "--firmware", "f", "--catalogue", "Q.INI"},
         "--catalogue goes with --item"},
        {{"verify", "--port", "A", "--firmware", "f", "--bootloader", "4KB"},
         "--bootloader needs a number, not '4KB'"},
    };
    for (const auto& c : cases) {
        const CommandResult r = Cli(c.Args);
        EXPECT_EQ(r.ExitCode, CliUsage) << Joined(c.Args);
        EXPECT_EQ(r.Out, "") << Joined(c.Args);
        EXPECT_EQ(r.Err, "q40prog-cli " + c.Args[0] + ": " + c.Problem + "\n\n" + Golden(c.Args[0]))
            << Joined(c.Args);
    }
    const CommandResult unknown = Cli({"bogus", "--port", "A"});
    EXPECT_EQ(unknown.ExitCode, CliUsage);
    EXPECT_EQ(unknown.Err, "q40prog-cli: unknown command 'bogus'\n\n" + Golden("main"));
}

// Values are taken as they come, also where they look like options or negative numbers.
TEST_F(BoxSimTest, CliOptionValuesAreTakenAsGiven) {
    WriteBytes(Scratch("fw.bin"), std::vector<uint8_t>(64, 0x11));
    CommandResult r = Cli({"image", Scratch("fw.bin"), "--length=0x10"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "size 64\ncheck 0x3B5E written\n");
    r = Cli({"image", "--length", "-2", Scratch("fw.bin")});  // counts down from 2^32
    EXPECT_EQ(r.ExitCode, 1) << r.Err;
    EXPECT_EQ(r.Out, "size 64\n");
    r = Cli({"image", Scratch("fw.bin"), "--id", "--length"});  // the pattern "--length",
                                                                // the whole image covered
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "size 64\ncheck 0xE023 written\nid \n");
}
}  // namespace
