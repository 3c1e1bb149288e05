// Stopping q40prog-cli program on purpose (Ctrl-C, SIGTERM) and by accident (a closed
// output pipe or terminal, a killed process), against q40prog-boxsim: a stop ends the run as
// the window's Abort ends it, before its next write or once the EEPROM is back, with log,
// record and the exit code that tells whether the device was touched; a closed terminal or
// output ends nothing; the box answers the next command at once.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "image/CheckValue.h"
#include "link/IspLink.h"
#include "tests/e2e/BoxSimFixture.h"
#include "tests/e2e/LiveCommand.h"
#include "tests/e2e/TerminalCommand.h"
#include "tests/support/LogStamps.h"
#include "tests/support/TestData.h"

namespace {
constexpr int ExitUntouched = 1;
constexpr int ExitNeedsRun = 3;
constexpr std::size_t FlashBytes = 0x10000, EepromBytes = 0x800, ImageBytes = 0x3000;
const char* const Aborted = "programming interrupted: Aborted.\n";
const char* const StopNotice = "q40prog-cli: stopping the update safely";
const char* const StopPending = "Stopping once the EEProm is back... ";
const char* const EepromBack =
    "the eeprom was written back and verified before the stop; the flash is not programmed\n";
constexpr int SlowAnswersMs = 10;
constexpr int VerySlowAnswersMs = 200;

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class CliStop : public BoxSimTest {
protected:
    void SetUp() override {
        BoxSimTest::SetUp();
        setenv("XDG_DATA_HOME", Scratch("data").c_str(), 1);
        Eeprom = RandomBytes(EepromBytes, 11);
        WriteBytes(Scratch("eeprom.in"), Eeprom);
        WriteBytes(Scratch("flash.in"), std::vector<uint8_t>(FlashBytes, 0x00));
        Image = RandomBytes(ImageBytes, 12);
        WriteBytes(Scratch("fw.bin"), Image);
    }

    // A device on a line at the real speed. Answers held back 'latencyMs' more make a phase
    // last long enough to be hit on a busy machine, where the test may read a progress line
    // late.
    void StartDevice(int latencyMs = 0) {
        StartBox({"--eeprom-in", Scratch("eeprom.in"), "--flash-in", Scratch("flash.in"),
                  "--dump-flash", Scratch("flash.bin"), "--dump-eeprom", Scratch("eeprom.bin"),
                  "--baud-pace", "--latency", std::to_string(latencyMs)});
    }

    std::vector<std::string> Program() const {
        return {Q40_CLI, "program", "--port", Port(), "--firmware", Scratch("fw.bin")};
    }
    std::vector<std::string> ProgramWithFuses() const {
        std::vector<std::string> argv = Program();
        argv.insert(argv.end(), {"--fuse-lo", "$E2", "--fuse-hi", "0x99"});
        return argv;
    }

    // The flash as a good update leaves it.
    std::vector<uint8_t> Stamped() const {
        std::vector<uint8_t> flash(isp::FlashImageSize, isp::Blank);
        std::copy(Image.begin(), Image.end(), flash.begin());
        StampCheckValue(flash.data(), ImageBytes);
        flash.resize(FlashBytes);
        return flash;
    }

    // The run ended done as if nothing had happened: record, flash and EEPROM.
    void ExpectDone(const std::string& how) {
        SCOPED_TRACE(how);
        EXPECT_TRUE(Has(LastRecord(), "\"outcome\":\"done\"")) << LastRecord();
        ASSERT_EQ(StopBox(), 0);
        EXPECT_EQ(ReadBytes(Scratch("flash.bin")), Stamped());
        EXPECT_EQ(ReadBytes(Scratch("eeprom.bin")), Eeprom);
    }

    std::string LastRecord() const {
        std::ifstream in(Scratch("data") + "/KARDO/Q40Prog/runs.jsonl");
        std::string line, last;
        while (std::getline(in, line)) last = line;
        return last;
    }

    // The log file the record names holds what the run printed.
    void ExpectLogFileOf(const std::string& out) const {
        const std::string record = LastRecord();
        const std::string key = "\"log\":\"";
        const auto at = record.find(key);
        ASSERT_NE(at, std::string::npos) << record;
        const std::string path =
            record.substr(at + key.size(), record.find('"', at + key.size()) - at - key.size());
        const std::vector<uint8_t> log = ReadBytes(path);
        EXPECT_EQ(WithoutStamps(std::string(log.begin(), log.end())), out);
    }

    static std::string CopyNamedIn(const std::string& out) {
        const std::string marker = "saving eeprom copy to ";
        const auto at = out.find(marker);
        if (at == std::string::npos) return {};
        return out.substr(at + marker.size(), out.find('\n', at) - at - marker.size());
    }

    std::vector<uint8_t> Eeprom, Image;
};
}  // namespace

TEST_F(CliStop, StopSignalDuringTheEepromReadLeavesTheDeviceUntouched) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(strsignal(signal));
        StartDevice(SlowAnswersMs);
        LiveCommand cli;
        ASSERT_TRUE(cli.Start(Program()));
        ASSERT_TRUE(cli.WaitForLine("Reading EEProm... 20%"));
        cli.Signal(signal);
        const CommandResult r = cli.Finish();
        EXPECT_EQ(r.ExitCode, ExitUntouched) << r.Out << r.Err;
        EXPECT_TRUE(Has(r.Out, std::string("reading eeprom...\n") + Aborted)) << r.Out;
        EXPECT_FALSE(Has(r.Out, "erasing chip")) << r.Out;
        EXPECT_FALSE(Has(r.Out, "needs another update")) << r.Out;
        EXPECT_TRUE(Has(r.Err, StopNotice)) << r.Err;
        EXPECT_TRUE(Has(LastRecord(), "\"code\":14,")) << LastRecord();
        EXPECT_TRUE(Has(LastRecord(), "\"device_touched\":false")) << LastRecord();
        ExpectLogFileOf(r.Out);
        ASSERT_EQ(StopBox(), 0);
        EXPECT_EQ(ReadBytes(Scratch("flash.bin")), std::vector<uint8_t>(FlashBytes, 0x00));
        EXPECT_EQ(ReadBytes(Scratch("eeprom.bin")), Eeprom);
    }
}

// A Ctrl-C while the chip is still being identified ends the run at its next stop point,
// without fuses the EEPROM read's first block; a second one only says again that the stop is
// under way.
TEST_F(CliStop, SecondCtrlCOnlyRepeatsThatTheStopIsUnderWay) {
    StartDevice(VerySlowAnswersMs);  // the run reaches its first data block after seconds
    LiveCommand cli;
    ASSERT_TRUE(cli.Start(Program()));
    ASSERT_TRUE(cli.WaitForLine("reseting programmer"));
    cli.Signal(SIGINT);
    ASSERT_TRUE(cli.WaitForLine(StopNotice));
    cli.Signal(SIGINT);
    ASSERT_TRUE(cli.WaitForLine("q40prog-cli: already stopping"));
    const CommandResult r = cli.Finish();
    EXPECT_EQ(r.ExitCode, ExitUntouched) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out, std::string("reading eeprom...\n") + Aborted)) << r.Out;
    EXPECT_TRUE(Has(LastRecord(), "\"code\":14,")) << LastRecord();
    ExpectLogFileOf(r.Out);
}

// With fuses to write, the same Ctrl-C ends the run before the first of them.
TEST_F(CliStop, CtrlCDuringIdentificationWritesNoFuse) {
    StartDevice(VerySlowAnswersMs);
    LiveCommand cli;
    ASSERT_TRUE(cli.Start(ProgramWithFuses()));
    ASSERT_TRUE(cli.WaitForLine("reseting programmer"));
    cli.Signal(SIGINT);
    const CommandResult r = cli.Finish();
    EXPECT_EQ(r.ExitCode, ExitUntouched) << r.Out << r.Err;
    EXPECT_TRUE(
        Has(r.Out, std::string("flash file size is 12288\nsetting port time to 100\n") + Aborted))
        << r.Out;
    EXPECT_FALSE(Has(r.Out, "programming Lo fuse")) << r.Out;
    EXPECT_FALSE(Has(r.Out, "fuses written")) << r.Out;
    EXPECT_TRUE(Has(LastRecord(), "\"device_touched\":false")) << LastRecord();
    ExpectLogFileOf(r.Out);
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("flash.bin")), std::vector<uint8_t>(FlashBytes, 0x00));
    EXPECT_EQ(ReadBytes(Scratch("eeprom.bin")), Eeprom);
}

// From the erase on a stop waits until the EEPROM is back and verified, the progress says
// so, and the run ends before the flash: the device holds its EEPROM and needs a good run.
TEST_F(CliStop, StopFromTheEraseOnPutsTheEepromBackFirst) {
    const struct {
        const char* At;
        int Signal;
    } cases[] = {
        {"erasing chip", SIGINT},
        {"Programming/Verifying EEProm... 20%", SIGINT},
        {"Programming/Verifying EEProm... 20%", SIGTERM},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.At) + ", " + strsignal(c.Signal));
        StartDevice(SlowAnswersMs);
        LiveCommand cli;
        ASSERT_TRUE(cli.Start(Program()));
        ASSERT_TRUE(cli.WaitForLine(c.At));
        cli.Signal(c.Signal);
        const CommandResult r = cli.Finish();
        EXPECT_EQ(r.ExitCode, ExitNeedsRun) << r.Out << r.Err;
        const std::string copy = CopyNamedIn(r.Out);
        EXPECT_TRUE(Has(r.Out, std::string("programming eeprom...\n") + Aborted + EepromBack +
                                   "the device needs another update; its eeprom copy is " + copy +
                                   "\n"))
            << r.Out;
        EXPECT_FALSE(Has(r.Out, "programming flash...")) << r.Out;
        EXPECT_TRUE(Has(r.Err, StopNotice)) << r.Err;
        EXPECT_TRUE(Has(r.Err, std::string("\n") + StopPending)) << r.Err;
        EXPECT_TRUE(Has(r.Err, "EEProm programmed ok.\n")) << r.Err;
        EXPECT_TRUE(Has(LastRecord(), "\"code\":14,")) << LastRecord();
        EXPECT_TRUE(Has(LastRecord(), "\"device_touched\":true")) << LastRecord();
        ExpectLogFileOf(r.Out);
        EXPECT_EQ(Cli({"pending"}).Out, "no pending eeprom copies\n");
        ASSERT_EQ(StopBox(), 0);
        EXPECT_EQ(ReadBytes(Scratch("eeprom.bin")), Eeprom);
        EXPECT_EQ(ReadBytes(Scratch("flash.bin")), std::vector<uint8_t>(FlashBytes, isp::Blank));
    }
}

TEST_F(CliStop, CtrlCDuringTheFlashNamesTheCopyAndTheBoxAnswersAtOnce) {
    StartDevice();
    WriteBytes(Scratch("fw.bin"), RandomBytes(FlashBytes, 14));  // a flash of some seconds
    LiveCommand cli;
    ASSERT_TRUE(cli.Start(Program()));
    ASSERT_TRUE(cli.WaitForLine("Programming/Verifying flash... 10%"));
    cli.Signal(SIGINT);
    const CommandResult r = cli.Finish();
    EXPECT_EQ(r.ExitCode, ExitNeedsRun) << r.Out << r.Err;
    const std::string copy = CopyNamedIn(r.Out);
    EXPECT_TRUE(Has(r.Out, std::string("programming flash...\n") + Aborted +
                               "the device needs another update; its eeprom copy is " + copy +
                               "\n"))
        << r.Out;
    EXPECT_EQ(ReadBytes(copy), Eeprom);
    EXPECT_TRUE(Has(LastRecord(), "\"device_touched\":true")) << LastRecord();
    ExpectLogFileOf(r.Out);

    const CommandResult chip = Cli({"chip", "--port", Port()});
    EXPECT_EQ(chip.ExitCode, 0) << chip.Err;
    EXPECT_EQ(chip.Out, "ATmega644P\n");
}

// A process killed mid-flash leaves the box inside whatever command it was sending; the
// host's next open resets the box, as a real box's DTR pulse does.
TEST_F(CliStop, BoxAnswersAtOnceAfterARunWasKilledMidFlash) {
    StartDevice();
    for (const char* at : {"10%", "60%"}) {
        SCOPED_TRACE(at);
        LiveCommand cli;
        ASSERT_TRUE(cli.Start(Program()));
        ASSERT_TRUE(cli.WaitForLine(std::string("Programming/Verifying flash... ") + at));
        cli.Signal(SIGKILL);
        cli.Finish();
        const CommandResult chip = Cli({"chip", "--port", Port()});
        EXPECT_EQ(chip.ExitCode, 0) << chip.Err;
        EXPECT_EQ(chip.Out, "ATmega644P\n");
    }
}

// The same without chance: a frame cut after its letter and two address bytes, seen by
// the box as it closes, or only after the next host has opened the port again (a busy
// machine lets the simulator miss the moment in between).
TEST_F(CliStop, CutFrameIsForgottenAtTheNextOpen) {
    StartDevice();
    for (const bool missTheClose : {false, true}) {
        SCOPED_TRACE(missTheClose ? "close unseen" : "close seen");
        if (missTheClose) kill(Sim.ProcessId(), SIGSTOP);
        const int fd = open(Port().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        const uint8_t cut[] = {isp::CmdWriteFlash, 0x00, 0x01};
        ASSERT_EQ(write(fd, cut, sizeof cut), static_cast<ssize_t>(sizeof cut));
        if (!missTheClose) usleep(20000);  // the box takes the bytes in before the close
        close(fd);
        LiveCommand chip;
        ASSERT_TRUE(chip.Start({Q40_CLI, "chip", "--port", Port()}));
        if (missTheClose) {
            usleep(200000);  // the query has the port and waits out its reset pulse
            kill(Sim.ProcessId(), SIGCONT);
        }
        const CommandResult r = chip.Finish();
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_EQ(r.Out, "ATmega644P\n");
    }
}

// q40prog-cli program ... | grep -m1 ...: the reader goes away after the first line.
TEST_F(CliStop, ClosedOutputPipesDoNotEndTheRun) {
    StartDevice();
    LiveCommand cli;
    ASSERT_TRUE(cli.Start(Program()));
    ASSERT_TRUE(cli.WaitForLine("opening serial port"));
    cli.CloseOutput();
    const CommandResult r = cli.Finish();
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_TRUE(Has(LastRecord(), "\"outcome\":\"done\"")) << LastRecord();
    ASSERT_EQ(StopBox(), 0);
    std::vector<uint8_t> flash(isp::FlashImageSize, isp::Blank);
    std::copy(Image.begin(), Image.end(), flash.begin());
    StampCheckValue(flash.data(), ImageBytes);
    flash.resize(FlashBytes);
    EXPECT_EQ(ReadBytes(Scratch("flash.bin")), flash);
    EXPECT_EQ(ReadBytes(Scratch("eeprom.bin")), Eeprom);
}

// A restore stopped before it writes leaves the device as it was and can be run again; one
// stopped while it writes finishes and verifies first, and is done.
TEST_F(CliStop, CtrlCStopsARestoreBeforeItWritesOrLetsItFinish) {
    StartDevice(SlowAnswersMs);
    const std::vector<uint8_t> copy = RandomBytes(EepromBytes, 13);
    const std::string copyPath = Scratch("eeprom-ATmega644P-ttyUSB0-20260101-000000-000.bin");
    WriteBytes(copyPath, copy);
    const std::vector<std::string> restore{Q40_CLI, "restore-eeprom", "--port", Port(), copyPath};
    LiveCommand early;
    ASSERT_TRUE(early.Start(restore));
    ASSERT_TRUE(early.WaitForLine("Reading EEProm... 20%"));
    early.Signal(SIGINT);
    CommandResult r = early.Finish();
    EXPECT_EQ(r.ExitCode, ExitUntouched) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out, std::string("reading eeprom...\n") + Aborted)) << r.Out;
    EXPECT_TRUE(Has(r.Err, "q40prog-cli: stopping the restore safely")) << r.Err;

    LiveCommand late;
    ASSERT_TRUE(late.Start(restore));
    ASSERT_TRUE(late.WaitForLine("Programming/Verifying EEProm... 20%"));
    late.Signal(SIGINT);
    r = late.Finish();
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out,
                    "verifying eeprom...\nthe stop came while the eeprom was being "
                    "written; the restore was finished and verified first\n"))
        << r.Out;
    EXPECT_TRUE(Has(r.Err, std::string("\n") + StopPending)) << r.Err;
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("eeprom.bin")), copy);
}

// A closed terminal (SIGHUP) stops nothing: the update carries on to its end.
TEST_F(CliStop, HangUpDoesNotEndTheRun) {
    for (const char* at : {"Reading EEProm... 20%", "Programming/Verifying flash... 10%"}) {
        StartDevice();
        LiveCommand cli;
        ASSERT_TRUE(cli.Start(Program()));
        ASSERT_TRUE(cli.WaitForLine(at));
        cli.Signal(SIGHUP);
        const CommandResult r = cli.Finish();
        EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
        EXPECT_FALSE(Has(r.Err, StopNotice)) << r.Err;
        ExpectLogFileOf(r.Out);
        ExpectDone(at);
    }
}

// The same with a real terminal that goes away, as when an SSH session drops: the program's
// session hangs up and its output has nowhere to go from then on.
TEST_F(CliStop, TerminalThatGoesAwayDoesNotEndTheRun) {
    StartDevice();
    TerminalCommand cli;
    ASSERT_TRUE(cli.Start(ProgramWithFuses()));
    ASSERT_TRUE(cli.WaitFor("Reading EEProm...")) << cli.Screen();
    cli.HangUp();
    EXPECT_EQ(cli.Finish(), 0);
    EXPECT_TRUE(Has(LastRecord(), "\"fuses\":\"Lo=0xE2 Hi=0x99\"")) << LastRecord();
    ExpectDone("hung up");
}

// Started with stdout or stderr closed: the port must not take their place, or the log
// lines would go into the box.
TEST_F(CliStop, ClosedStdoutOrStderrKeepsTheLogOutOfTheBox) {
    for (const int closed : {STDOUT_FILENO, STDERR_FILENO}) {
        StartDevice();
        LiveCommand cli;
        ASSERT_TRUE(cli.Start(ProgramWithFuses(), {closed}));
        const CommandResult r = cli.Finish();
        EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
        if (closed == STDERR_FILENO) {
            EXPECT_TRUE(Has(r.Out, "done without any problem.\n")) << r.Out;
        }
        EXPECT_FALSE(Has(r.Out + r.Err, "Bad echo")) << r.Out << r.Err;
        ExpectDone(closed == STDOUT_FILENO ? ">&-" : "2>&-");
    }
}
