// The EEPROM end to end, q40prog-cli against q40prog-boxsim on pseudo-terminals: restore-eeprom
// over other data, the retry after a box that vanished during the write-back, the stop where
// an empty EEPROM or a lookalike board cannot be told from the unit, runs started together,
// records that cannot be written or read, and a chosen copy over an EEPROM that EESAVE kept.
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "programming/PendingCopies.h"
#include "programming/ProgrammingRun.h"
#include "sim/SimPort.h"
#include "tests/e2e/BoxSimFixture.h"
#include "tests/support/RecordingReport.h"
#include "tests/support/TestData.h"

namespace {
constexpr int ExitUntouched = 1;
constexpr int ExitNeedsRun = 3;
constexpr std::size_t EepromBytes = 0x800;  // ATmega644P
constexpr std::size_t Block = 32;
constexpr long long BytesPerEepromBlock = (1 + 4 + 32) + (1 + 3);  // 'w' frame, 'r' frame

std::string LineAfter(const std::string& text, const std::string& marker) {
    const auto at = text.find(marker);
    if (at == std::string::npos) return {};
    const auto start = at + marker.size();
    return text.substr(start, text.find('\n', start) - start);
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The bytes the box has received when the EEPROM write-back of an update begins, worked out
// on the in-process box: the same update sends the same bytes over the pseudo-terminal.
long long BytesBeforeWriteBack(const std::vector<uint8_t>& eeprom, const std::string& firmware,
                               const std::string& scratch) {
    struct Watch : RecordingReport {
        explicit Watch(const BoxModel& box) : Box(box) {}
        void Log(const std::string& line) override {
            if (line == "programming eeprom...") At = Box.BytesReceived;
        }
        const BoxModel& Box;
        long long At = -1;
    };
    BoxModel box(BoxConfig{});
    box.Target.Eeprom = eeprom;
    FakeClock clock;
    Watch watch(box);
    RunParams params;
    params.FirmwarePath = firmware;
    params.PortName = "replay";
    ProgrammingRun run(
        params, watch,
        [&] { return std::make_unique<TIspLink>(std::make_unique<SimPort>(box), clock); },
        RunOptions{scratch, ""});
    EXPECT_TRUE(run.Execute().Success);
    return watch.At;
}

class CliEeprom : public BoxSimTest {
protected:
    void SetUp() override {
        BoxSimTest::SetUp();
        setenv("XDG_DATA_HOME", Scratch("data").c_str(), 1);
        DataFolder = Scratch("data/KARDO/Q40Prog");
        Original = RandomBytes(EepromBytes, 21);
        // Blank blocks among the data and at the end, as real EEPROM contents have them.
        for (const std::size_t blank : {1u, 5u})
            std::fill_n(Original.begin() + static_cast<long>(blank * Block), Block, 0xFF);
        std::fill(Original.end() - static_cast<long>(16 * Block), Original.end(), 0xFF);
        WriteBytes(Scratch("fw.bin"), RandomBytes(0x1000, 22));
        WriteBytes(Scratch("flash.in"), std::vector<uint8_t>(0x10000, 0x00));
    }

    // A device holding 'eeprom'; what the box ends with goes to 'dump' when it stops.
    void StartDevice(const std::vector<uint8_t>& eeprom, const std::string& dump,
                     std::vector<std::string> more = {}) {
        WriteBytes(Scratch("eeprom.in"), eeprom);
        std::vector<std::string> options{"--eeprom-in",       Scratch("eeprom.in"), "--flash-in",
                                         Scratch("flash.in"), "--dump-eeprom",      Scratch(dump)};
        options.insert(options.end(), more.begin(), more.end());
        StartBox(options);
    }

    CommandResult Program(const std::string& port, std::vector<std::string> more = {}) {
        std::vector<std::string> args{"program", "--port", port, "--firmware", Scratch("fw.bin")};
        args.insert(args.end(), more.begin(), more.end());
        return Cli(args);
    }

    // An update whose box goes away after 'blocks' non-blank EEPROM blocks of the write-back;
    // returns the copy it names and leaves the device's EEPROM in half.bin.
    std::string UpdateThatVanishes(std::size_t blocks, const std::string& link) {
        const long long start =
            BytesBeforeWriteBack(Original, Scratch("fw.bin"), Scratch("replay"));
        EXPECT_GT(start, 0);
        // Half-way into the next block's frame: a frame the box never finishes.
        const long long dropAfter =
            start + static_cast<long long>(blocks) * BytesPerEepromBlock + 10;
        StartDevice(Original, "half.bin",
                    {"--drop-after", std::to_string(dropAfter), "--link", link});
        const CommandResult r = Program(link);
        EXPECT_EQ(r.ExitCode, ExitNeedsRun) << r.Out << r.Err;
        EXPECT_TRUE(Has(r.Out, "programming interrupted: Programmer not connected.")) << r.Out;
        EXPECT_EQ(StopBox(), 0);
        return LineAfter(r.Out, "the device needs another update; its eeprom copy is ");
    }

    std::string DataFolder;
    std::vector<uint8_t> Original;
};
}  // namespace

TEST_F(CliEeprom, RestoreOverOtherDataLeavesTheCopyAndSavesWhatWasThere) {
    const std::vector<uint8_t> other = RandomBytes(EepromBytes, 23);
    StartDevice(other, "final.bin");
    WriteBytes(Scratch("eeprom-ATmega644P-ttyUSB0-20260101-120000-000.bin"), Original);
    const CommandResult r = Cli({"restore-eeprom", "--port", Port(),
                                 Scratch("eeprom-ATmega644P-ttyUSB0-20260101-120000-000.bin")});
    ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out, "verifying eeprom...\n")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "done without any problem.\n"));
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("final.bin")), Original);  // the blank blocks too
    EXPECT_EQ(ReadBytes(LineAfter(r.Out, "saving eeprom copy to ")), other);
    std::ifstream records(DataFolder + "/runs.jsonl");
    std::string line;
    ASSERT_TRUE(std::getline(records, line));
    const auto j = nlohmann::json::parse(line);
    EXPECT_EQ(j["operation"], "restore-eeprom");
    EXPECT_EQ(j["outcome"], "done");
    EXPECT_EQ(j["port"], Port());
    EXPECT_TRUE(std::filesystem::is_regular_file(j["log"].get<std::string>()));
}

TEST_F(CliEeprom, RetryAfterAVanishedBoxEndsWithTheOriginalEeprom) {
    for (const char* secondPort : {"port-a", "port-b"}) {
        SCOPED_TRACE(secondPort);
        const std::string copy = UpdateThatVanishes(3, Scratch("port-a"));
        ASSERT_FALSE(copy.empty());
        const std::vector<uint8_t> half = ReadBytes(Scratch("half.bin"));
        ASSERT_NE(half, Original);
        ASSERT_NE(half, std::vector<uint8_t>(EepromBytes, 0xFF));

        StartDevice(half, "final.bin", {"--link", Scratch(secondPort)});
        const CommandResult r = Program(Scratch(secondPort));
        ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
        EXPECT_TRUE(
            Has(r.Out, "restoring eeprom from " + copy + " left by an interrupted update\n"))
            << r.Out;
        ASSERT_EQ(StopBox(), 0);
        EXPECT_EQ(ReadBytes(Scratch("final.bin")), Original);
        EXPECT_EQ(ReadBytes(LineAfter(r.Out, "saving eeprom copy to ")), half);
    }
}

TEST_F(CliEeprom, EmptyEepromStopsBeforeTheEraseAndNamesTheWaysOn) {
    const std::string copy = UpdateThatVanishes(0, Scratch("port-a"));
    const std::vector<uint8_t> blank(EepromBytes, 0xFF);
    ASSERT_EQ(ReadBytes(Scratch("half.bin")), blank);
    StartDevice(blank, "final.bin", {"--dump-flash", Scratch("flash.bin")});

    CommandResult r = Program(Port());
    EXPECT_EQ(r.ExitCode, ExitUntouched) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out,
                    "programming interrupted: Stopped before the erase: an EEPROM copy "
                    "may belong to this device."))
        << r.Out;
    EXPECT_TRUE(Has(r.Out, "--use-eeprom-copy " + copy)) << r.Out;
    EXPECT_TRUE(Has(r.Out, "--keep-device-eeprom")) << r.Out;
    EXPECT_FALSE(Has(r.Out, "erasing chip")) << r.Out;

    r = Program(Port(), {"--keep-device-eeprom"});  // as for a new board
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out, "keeping the eeprom as read; pending eeprom copy " + copy)) << r.Out;

    r = Program(Port(), {"--use-eeprom-copy", copy});  // that device after all
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("final.bin")), Original);

    r = Program(Port(), {"--use-eeprom-copy", copy, "--keep-device-eeprom"});
    EXPECT_EQ(r.ExitCode, 2);
}

// Pairs of q40prog-cli processes started together on two boxes, one data folder: each copy
// holds its own device's EEPROM and each record names its own log and copy.
TEST_F(CliEeprom, RunsStartedTogetherKeepTheirOwnFiles) {
    BoxSimProcess second{Q40_BOXSIM};
    const std::vector<uint8_t> otherEeprom = RandomBytes(EepromBytes, 24);
    WriteBytes(Scratch("other.in"), otherEeprom);
    ASSERT_TRUE(second.Start({"--eeprom-in", Scratch("other.in")})) << second.Error();
    StartDevice(Original, "final.bin");
    constexpr int Pairs = 4;
    for (int pair = 0; pair < Pairs; ++pair) {
        CommandResult results[2];
        std::thread other([&] { results[1] = Program(second.PortPath()); });
        results[0] = Program(Port());
        other.join();
        for (const CommandResult& r : results) ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
        EXPECT_EQ(ReadBytes(LineAfter(results[0].Out, "saving eeprom copy to ")), Original);
        EXPECT_EQ(ReadBytes(LineAfter(results[1].Out, "saving eeprom copy to ")), otherEeprom);
    }
    EXPECT_EQ(second.Stop(), 0);
    std::ifstream records(DataFolder + "/runs.jsonl");
    std::set<std::string> logs, copies;
    int lines = 0;
    for (std::string line; std::getline(records, line); ++lines) {
        const auto j = nlohmann::json::parse(line);
        logs.insert(j["log"].get<std::string>());
        copies.insert(j["eeprom_copy"].get<std::string>());
    }
    EXPECT_EQ(lines, 2 * Pairs);
    EXPECT_EQ(logs.size(), 2u * Pairs);
    EXPECT_EQ(copies.size(), 2u * Pairs);
}

// A record that the checks before the run find writable, on a disk that is full by the end.
TEST_F(CliEeprom, RecordThatCannotBeWrittenIsWarnedAbout) {
    std::filesystem::create_directories(DataFolder);
    std::filesystem::create_symlink("/dev/full", DataFolder + "/runs.jsonl");
    StartDevice(Original, "final.bin");
    const CommandResult r = Program(Port());
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;  // the update itself went well
    const std::string problem =
        "could not write the run record " + DataFolder + "/runs.jsonl: No space left on device";
    EXPECT_TRUE(Has(r.Out, "done without any problem.\n" + problem + "\n")) << r.Out;
    EXPECT_TRUE(Has(r.Err, "q40prog-cli: warning: " + problem + "\n")) << r.Err;
    // The log file has the line too.
    const std::string logs = DataFolder + "/logs";
    ASSERT_EQ(std::distance(std::filesystem::directory_iterator(logs),
                            std::filesystem::directory_iterator()),
              1);
    const std::string logPath = std::filesystem::directory_iterator(logs)->path();
    const std::vector<uint8_t> text = ReadBytes(logPath);
    EXPECT_TRUE(Has(std::string(text.begin(), text.end()), problem + "\n"));
}

namespace {
// Boards of one product carry the same header and default table in their first two blocks;
// a unit adds its calibration and serial number.
std::vector<uint8_t> Unit(char name) {
    std::vector<uint8_t> e(EepromBytes, 0xFF);
    const std::string header = "KARDO-Q40 HDR v1";
    std::copy(header.begin(), header.end(), e.begin());
    for (std::size_t i = 0; i < Block; ++i) e[Block + i] = static_cast<uint8_t>(0x40 + i);
    const std::string calibration = std::string("CAL-") + name + "-0123456789abcdefghijklmnopq";
    std::copy(calibration.begin(), calibration.begin() + Block, e.begin() + 2 * Block);
    const std::string serial = std::string("SERIAL ") + name + " 2026-000123";
    std::copy(serial.begin(), serial.end(), e.begin() + 0x400);
    return e;
}
}  // namespace

// A board holding only the header and table every board carries, while unit X's copy is
// pending and a unit Y updated here yesterday holds the same two blocks: program stops before
// the erase and names the copy and both ways on; --keep-device-eeprom goes on with the board's
// own EEPROM and leaves X's copy pending.
TEST_F(CliEeprom, LookalikeBoardStopsBeforeTheEraseAndNamesTheWaysOn) {
    const std::string folder = DataFolder + "/eeprom";
    std::filesystem::create_directories(folder);
    const std::string y = folder + "/eeprom-ATmega644P-ttyUSB5-20260101-090000-000.bin";
    WriteBytes(y, Unit('Y'));
    std::filesystem::last_write_time(
        y, std::filesystem::file_time_type::clock::now() - std::chrono::hours(24));
    const std::string x = folder + "/eeprom-ATmega644P-ttyUSB9-20260102-090000-000.bin";
    WriteBytes(x, Unit('X'));
    ASSERT_EQ(MarkPending(DataFolder, {x, "ATmega644P", "ttyUSB9",
                                       std::chrono::system_clock::now() - std::chrono::hours(1)}),
              0);
    const std::vector<uint8_t> z = Unit('Z');
    std::vector<uint8_t> board(EepromBytes, 0xFF);
    std::copy(z.begin(), z.begin() + 2 * Block, board.begin());
    StartDevice(board, "final.bin");

    CommandResult r = Program(Port());
    EXPECT_EQ(r.ExitCode, ExitUntouched) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out,
                    "programming interrupted: Stopped before the erase: an EEPROM copy "
                    "may belong to this device.\n"))
        << r.Out;
    EXPECT_TRUE(Has(r.Out, "its EEPROM is in " + x + ". A board that never had that EEPROM"))
        << r.Out;
    EXPECT_TRUE(Has(r.Out, "run again with --use-eeprom-copy " + x + ";")) << r.Out;
    EXPECT_TRUE(Has(r.Out, "with --keep-device-eeprom")) << r.Out;
    EXPECT_FALSE(Has(r.Out, "erasing chip")) << r.Out;

    r = Program(Port(), {"--keep-device-eeprom"});
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out, "keeping the eeprom as read; pending eeprom copy " + x + " not used"))
        << r.Out;
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("final.bin")), board);
    EXPECT_TRUE(Has(Cli({"pending"}).Out, x));
}

// The record of pending copies cut short, or its lock path taken by a folder: program and
// restore-eeprom fail before they open the port, with the file and the reason below the failure;
// pending says what the record still names and how to go on.
TEST_F(CliEeprom, PendingRecordThatCannotBeUsedStopsTheRunAndPendingSaysWhatToDo) {
    std::filesystem::create_directories(DataFolder);
    const std::string record = DataFolder + "/pending-eeprom.json";
    const std::string copy = DataFolder + "/eeprom/eeprom-ATmega644P-ttyUSB9-1.bin";
    std::ofstream(record) << "{\n  \"pending\": [\n    {\n      \"chip\": \"ATmega644P\",\n"
                          << "      \"copy\": \"" << copy << "\",\n      \"port\": \"tty";
    StartDevice(Original, "final.bin");

    CommandResult r = Program(Port());
    EXPECT_EQ(r.ExitCode, ExitUntouched) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out,
                    "programming interrupted: Error using the record of pending EEPROM copies.\n"
                    "File: " +
                        record + ": not a record of pending copies (cut short or damaged)\n"))
        << r.Out;
    EXPECT_FALSE(Has(r.Out, "opening serial port")) << r.Out;
    // A restore of another copy alike: cut short, it would leave a device nothing explains.
    WriteBytes(Scratch("other.bin"), RandomBytes(EepromBytes, 24));
    r = Cli({"restore-eeprom", "--port", Port(), Scratch("other.bin")});
    EXPECT_EQ(r.ExitCode, ExitUntouched) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out, "not a record of pending copies (cut short or damaged)\n")) << r.Out;
    EXPECT_FALSE(Has(r.Out, "opening serial port")) << r.Out;

    r = Cli({"pending"});
    EXPECT_EQ(r.ExitCode, 1) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out, "the record of pending eeprom copies cannot be used: " + record +
                               ": not a record of pending copies (cut short or damaged)\n"))
        << r.Out;
    EXPECT_TRUE(Has(r.Out, "copies it names, as far as it can be read:\n  " + copy + "\n"))
        << r.Out;
    EXPECT_TRUE(Has(r.Out, "restore-eeprom --port PORT COPY")) << r.Out;

    std::filesystem::remove(record);
    std::filesystem::remove(DataFolder + "/pending-eeprom.lock");  // the runs' lock file
    std::filesystem::create_directories(DataFolder + "/pending-eeprom.lock");
    r = Program(Port());
    EXPECT_EQ(r.ExitCode, ExitUntouched) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out,
                    "programming interrupted: Error using the record of pending EEPROM "
                    "copies.\nFile: " +
                        DataFolder + "/pending-eeprom.lock: Is a directory\n"))
        << r.Out;
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("final.bin")), Original);
}

// EESAVE programmed by the run's own high fuse: the erase keeps the device's other data, and
// the chosen copy still ends up in the device byte for byte, its blank blocks too.
TEST_F(CliEeprom, ChosenCopyOverOtherDataWithEesaveEndsWhole) {
    const std::vector<uint8_t> other = RandomBytes(EepromBytes, 25);  // no blank block
    StartDevice(other, "final.bin");
    const std::string copy = Scratch("eeprom-ATmega644P-ttyUSB0-20260101-120000-000.bin");
    WriteBytes(copy, Original);
    const CommandResult r = Program(Port(), {"--fuse-hi", "0xD1", "--use-eeprom-copy", copy});
    ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out, "programming eeprom...\nverifying eeprom...\nprogramming flash...\n"))
        << r.Out;
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("final.bin")), Original);
    EXPECT_EQ(ReadBytes(LineAfter(r.Out, "saving eeprom copy to ")), other);
}
