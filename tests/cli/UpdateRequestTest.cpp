// What program and station take from their options, the ports named twice, and how a
// station answers about a pending EEPROM copy.
#include "cli/UpdateRequest.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "cli/ConsoleReport.h"
#include "cli/PortRunReport.h"
#include "cli/SamePort.h"

namespace {
const std::set<std::string> Valued{"--port",      "--firmware",       "--fuse-lo",    "--fuse-hi",
                                   "--fuse-ex",   "--speed",          "--bootloader", "--item",
                                   "--catalogue", "--use-eeprom-copy"};
const std::set<std::string> Flags{"--keep-device-eeprom", "--allow-isp-lockout"};

std::string Problem(const std::vector<std::string>& argv, UpdateRequest& request) {
    const Args args(argv, Valued, Flags, {"--port"});
    EXPECT_TRUE(args.Ok()) << args.ErrorText();
    return ReadUpdateRequest(args, request);
}

std::string Problem(const std::vector<std::string>& argv) {
    UpdateRequest ignored;
    return Problem(argv, ignored);
}
}  // namespace

TEST(UpdateRequest, SeveralPortsInOrderWithTheirValues) {
    UpdateRequest r;
    ASSERT_EQ(Problem({"--port", "ttyUSB0", "--firmware", "fw.hex", "--port=ttyUSB1", "--fuse-hi",
                       "0xD9", "--port", "ttyUSB0", "--allow-isp-lockout"},
                      r),
              "");
    EXPECT_EQ(r.Ports, (std::vector<std::string>{"ttyUSB0", "ttyUSB1", "ttyUSB0"}));
    EXPECT_EQ(r.Values.FirmwarePath, "fw.hex");
    EXPECT_EQ(r.Values.FuseHi, "0xD9");
    EXPECT_TRUE(r.Values.AllowIspLockout);
    EXPECT_FALSE(r.Item);
}

TEST(UpdateRequest, UsageProblems) {
    const struct {
        std::vector<std::string> Argv;
        std::string Problem;
    } cases[] = {
        {{"--firmware", "fw.hex"}, "--port is required"},
        {{"--port", "", "--firmware", "fw.hex"}, "--port is required"},
        {{"--port", "A"}, "--firmware or --item is required"},
        {{"--port", "A", "--item", "1", "--firmware", "fw.hex"},
         "give either --firmware or --item"},
        {{"--port", "A", "--item", "100"}, "--item takes a number from 1 to 99"},
        {{"--port", "A", "--item", "1", "--fuse-lo", "0xE2"},
         "--fuse-lo does not go with --item: the item's processor entry gives it"},
        {{"--port", "A", "--item", "1", "--speed", "20"},
         "--speed does not go with --item: the item's processor entry gives it"},
        {{"--port", "A", "--item", "1", "--bootloader", "4096"},
         "--bootloader does not go with --item: the item's processor entry gives it"},
        {{"--port", "A", "--firmware", "fw.hex", "--catalogue", "Q.INI"},
         "--catalogue goes with --item"},
        {{"--port", "A", "--port", "B", "--firmware", "fw.hex", "--use-eeprom-copy", "c.bin"},
         "--use-eeprom-copy goes with one --port"},
        {{"--port", "A", "--firmware", "fw.hex", "--use-eeprom-copy", "c.bin",
          "--keep-device-eeprom"},
         "give either --use-eeprom-copy or --keep-device-eeprom"},
        {{"--port", "A", "--firmware", "fw.hex", "--bootloader", "4 KB"},
         "--bootloader needs a number, not '4 KB'"},
        {{"--port", "A", "--firmware", "fw.hex", "extra"}, "unexpected argument"},
        // An unset variable in a script must not skip a fuse or the speed unseen.
        {{"--port", "A", "--firmware", "fw.hex", "--fuse-lo", ""},
         "--fuse-lo needs a value, not an empty one"},
        {{"--port", "A", "--firmware", "fw.hex", "--fuse-lo", "$E2", "--fuse-hi="},
         "--fuse-hi needs a value, not an empty one"},
        {{"--port", "A", "--firmware", "fw.hex", "--fuse-ex", ""},
         "--fuse-ex needs a value, not an empty one"},
        {{"--port", "A", "--firmware", "fw.hex", "--speed", ""},
         "--speed needs a value, not an empty one"},
        {{"--port", "A", "--firmware", "fw.hex", "--bootloader", ""},
         "--bootloader needs a number, not ''"},
    };
    for (const auto& c : cases) EXPECT_EQ(Problem(c.Argv), c.Problem) << c.Problem;
}

TEST(SamePort, EveryNameOfADeviceAfterTheFirstIsHeld) {
    const std::string link =
        std::filesystem::temp_directory_path() / ("q40-same-port-" + std::to_string(getpid()));
    std::filesystem::remove(link);
    std::filesystem::create_symlink("/dev/null", link);  // as /dev/serial/by-id/... is one
    const std::vector<std::string> ports{"null", "zero", "/dev/null", link, "zero", "null"};
    const auto earlier = EarlierSamePort(ports);
    std::filesystem::remove(link);
    const std::vector<std::optional<std::size_t>> expected{std::nullopt, std::nullopt, 0u,
                                                           0u,           1u,           0u};
    EXPECT_EQ(earlier, expected);
    EXPECT_EQ(PortLabels(ports), (std::vector<std::string>{"null", "zero", "/dev/null", link,
                                                           "zero (2)", "null (2)"}));

    // The later name fails as a port in use, and says which name updates the device.
    const std::unique_ptr<TIspLink> held = HeldPortLinks("/dev/ttyS1", "ttyS1")();
    try {
        held->OpenPort("/dev/ttyS1");
        FAIL() << "opened";
    } catch (const EProgError& e) {
        EXPECT_EQ(GetErrorText(e.Code), "Error opening serial port. Port already in use?");
        EXPECT_EQ(held->ExplainFailure(e),
                  std::vector<std::string>{"/dev/ttyS1 names the same port as ttyS1, given "
                                           "before it on the command line; that run updates "
                                           "the device"});
    }
}

TEST(StationAnswer, EmptyEepromIsANewBoardOtherDoubtsStopBeforeTheErase) {
    PendingCopy copy;
    copy.Path = "/data/eeprom/eeprom-ATmega644P-ttyUSB0-1.bin";
    copy.Chip = "ATmega644P";
    const EepromAnswer blank = StationAnswer(EepromQuestion{"ATmega644P", true, {copy}});
    EXPECT_EQ(blank.Kind, EepromAnswer::KeepDevice);
    EXPECT_EQ(blank.Detail,
              "the eeprom is empty and a pending eeprom copy of an ATmega644P exists; the "
              "station takes this board for a new one");
    const EepromAnswer several = StationAnswer(EepromQuestion{"ATmega644P", false, {copy, copy}});
    EXPECT_EQ(several.Kind, EepromAnswer::Stop);
    EXPECT_NE(several.Detail.find("program --use-eeprom-copy"), std::string::npos);
    // A board that holds only what boards share: the board fails, naming the copy and both
    // ways on.
    const EepromAnswer common =
        StationAnswer(EepromQuestion{"ATmega644P", false, {copy}, /*DeviceCommon=*/true});
    EXPECT_EQ(common.Kind, EepromAnswer::Stop);
    EXPECT_NE(common.Detail.find("could hold the same bytes"), std::string::npos) << common.Detail;
    EXPECT_NE(
        common.Detail.find("program --use-eeprom-copy " + copy.Path + " if it is that device"),
        std::string::npos)
        << common.Detail;
    EXPECT_NE(common.Detail.find("program --keep-device-eeprom if it is not"), std::string::npos);
}

// program without an answer on its command line: code 28's detail names the copy and both
// ways on, for one copy of each kind of doubt.
TEST(ProgramAnswer, NamesTheCopyAndTheTwoWaysOn) {
    PendingCopy copy;
    copy.Path = "/data/eeprom/eeprom-ATmega644P-ttyUSB0-1.bin";
    copy.Chip = "ATmega644P";
    for (const bool blank : {true, false}) {
        const EepromAnswer a =
            AnswerFromOptions(EepromQuestion{"ATmega644P", blank, {copy}, !blank}, false);
        EXPECT_EQ(a.Kind, EepromAnswer::Stop);
        EXPECT_NE(a.Detail.find("Nothing was erased. If it is, run again with --use-eeprom-copy " +
                                copy.Path + "; if it is "),
                  std::string::npos)
            << a.Detail;
        EXPECT_NE(a.Detail.find("with --keep-device-eeprom"), std::string::npos) << a.Detail;
    }
    EXPECT_EQ(AnswerFromOptions(EepromQuestion{"ATmega644P", false, {copy}, true}, true).Kind,
              EepromAnswer::KeepDevice);
}

// Several candidates in the window: No on all but the last moves on to the next copy.
TEST(EepromQuestionText, EachAnswerSaysWhatItDoes) {
    EXPECT_EQ(AnswerChoices(true),
              "Yes: write this copy into the device\nNo: keep what the device holds\n"
              "Cancel: stop before anything is erased");
    EXPECT_EQ(AnswerChoices(false),
              "Yes: write this copy into the device\nNo: not this copy; ask about the next one\n"
              "Cancel: stop before anything is erased");
}
