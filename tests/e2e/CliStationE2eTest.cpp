// q40prog-cli station against q40prog-boxsim, whose target is connected and removed with
// SIGUSR1 and SIGUSR2 as boards are on a bench: every board is updated once, never twice
// while it stays on; Ctrl-C ends the station after the update under way; an empty EEPROM
// with a pending copy is a new board, a half-restored one gets its copy back, one that any
// board could hold fails before the erase; pending lists and forgets the marks.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "image/CheckValue.h"
#include "link/IspLink.h"
#include "programming/PendingCopies.h"
#include "tests/e2e/BoxSimFixture.h"
#include "tests/e2e/LiveCommand.h"
#include "tests/e2e/TerminalCommand.h"
#include "tests/support/TestData.h"

namespace {
constexpr int ExitNeedsRun = 3;
constexpr std::size_t FlashBytes = 0x10000, EepromBytes = 0x800;
// Long enough for the station to ask the board at least twice whether it is still there
// (a pause of a second, then the query with its reset of 0.6 s, each time), and for a station
// that took a board still on for a new one to have begun its second update.
constexpr auto SeveralRemovalChecks = std::chrono::milliseconds(4000);

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The words of the totals' last line, "all ports  3  0".
std::vector<std::string> TotalRow(const std::string& out) {
    const auto at = out.rfind("\nall ports ");
    if (at == std::string::npos) return {};
    std::istringstream in(out.substr(at + 1, out.find('\n', at + 1) - at - 1));
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

class Station : public BoxSimTest {
protected:
    void SetUp() override {
        BoxSimTest::SetUp();
        setenv("XDG_DATA_HOME", Scratch("data").c_str(), 1);
        Data = Scratch("data") + "/KARDO/Q40Prog";
        Eeprom = RandomBytes(EepromBytes, 51);
        WriteBytes(Scratch("eeprom.in"), Eeprom);
        WriteBytes(Scratch("flash.in"), std::vector<uint8_t>(FlashBytes, 0x00));
        Image = RandomBytes(0x3000, 52);
        WriteBytes(Scratch("fw.bin"), Image);
    }

    void StartBench(std::vector<std::string> options) {
        options.insert(options.end(),
                       {"--flash-in", Scratch("flash.in"), "--dump-flash", Scratch("flash.bin"),
                        "--dump-eeprom", Scratch("eeprom.bin")});
        StartBox(options);
    }

    std::vector<std::string> StationCommand() const {
        return {Q40_CLI, "station", "--port", Port(), "--firmware", Scratch("fw.bin")};
    }

    void Board(int signal) { kill(Sim.ProcessId(), signal); }

    std::vector<uint8_t> Stamped() const {
        std::vector<uint8_t> flash(isp::FlashImageSize, isp::Blank);
        std::copy(Image.begin(), Image.end(), flash.begin());
        StampCheckValue(flash.data(), static_cast<uint32_t>(Image.size()));
        flash.resize(FlashBytes);
        return flash;
    }

    std::size_t RecordCount() const {
        std::ifstream in(Data + "/runs.jsonl");
        std::size_t n = 0;
        for (std::string line; std::getline(in, line);) ++n;
        return n;
    }

    std::string Data;
    std::vector<uint8_t> Eeprom, Image;
};
}  // namespace

TEST_F(Station, ThreeBoardsInARowEachUpdatedOnce) {
    StartBench({"--target-absent", "--eeprom-in", Scratch("eeprom.in")});
    LiveCommand station;
    ASSERT_TRUE(station.Start(StationCommand()));
    const std::string waiting = Port() + ": waiting for a board";
    ASSERT_TRUE(station.WaitForLine(waiting));
    for (int board = 1; board <= 3; ++board) {
        SCOPED_TRACE(board);
        Board(SIGUSR1);
        ASSERT_TRUE(station.WaitForLine(Port() + ": done. This port " + std::to_string(board) +
                                        " done, 0 failed; all ports " + std::to_string(board) +
                                        " done, 0 failed."))
            << station.SoFar().Out << station.SoFar().Err;
        std::this_thread::sleep_for(SeveralRemovalChecks);  // the board stays on meanwhile
        station.TakeWhatHasCome();
        EXPECT_EQ(Count(station.SoFar().Out, Port() + ": opening serial port"),
                  static_cast<std::size_t>(board));
        EXPECT_EQ(RecordCount(), static_cast<std::size_t>(board));
        EXPECT_EQ(ReadBytes(Scratch("flash.bin")), Stamped());
        EXPECT_EQ(ReadBytes(Scratch("eeprom.bin")), Eeprom);
        Board(SIGUSR2);
        ASSERT_TRUE(station.WaitForLines(waiting, static_cast<std::size_t>(board) + 1));
    }
    station.Signal(SIGINT);
    const CommandResult r = station.Finish();
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Err, "q40prog-cli: stopping the station")) << r.Err;
    EXPECT_EQ(TotalRow(r.Out), (std::vector<std::string>{"all", "ports", "3", "0", "0"})) << r.Out;
    EXPECT_EQ(Count(r.Out, "done without any problem."), 3u);
}

TEST_F(Station, CtrlCEndsItAfterTheUpdateUnderWayHasStopped) {
    StartBench({"--eeprom-in", Scratch("eeprom.in"), "--baud-pace"});
    WriteBytes(Scratch("fw.bin"), RandomBytes(FlashBytes, 53));
    LiveCommand station;
    ASSERT_TRUE(station.Start(StationCommand()));
    ASSERT_TRUE(station.WaitForLine(Port() + ": Programming/Verifying flash... 10%"));
    station.Signal(SIGINT);
    const CommandResult r = station.Finish();
    EXPECT_EQ(r.ExitCode, ExitNeedsRun) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out, Port() + ": programming interrupted: Aborted.\n")) << r.Out;
    EXPECT_TRUE(Has(r.Out, Port() + ": the device needs another update; its eeprom copy is "))
        << r.Out;
    EXPECT_TRUE(Has(r.Out, Port() + ": FAILED: Aborted. This port 0 done, 1 failed; all ports 0 "
                                    "done, 1 failed.\n"))
        << r.Out;
    EXPECT_EQ(TotalRow(r.Out), (std::vector<std::string>{"all", "ports", "0", "1", "0"})) << r.Out;
    EXPECT_EQ(RecordCount(), 1u);
}

// Ctrl-C during a board's EEPROM write-back: it goes back first, the port's progress says so,
// and the update stops before the flash.
TEST_F(Station, CtrlCDuringTheWriteBackPutsTheEepromBackFirst) {
    StartBench({"--eeprom-in", Scratch("eeprom.in"), "--baud-pace", "--latency", "10"});
    LiveCommand station;
    ASSERT_TRUE(station.Start(StationCommand()));
    ASSERT_TRUE(station.WaitForLine(Port() + ": Programming/Verifying EEProm... 20%"));
    station.Signal(SIGINT);
    const CommandResult r = station.Finish();
    EXPECT_EQ(r.ExitCode, ExitNeedsRun) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Err, Port() + ": Stopping once the EEProm is back... ")) << r.Err;
    EXPECT_TRUE(Has(r.Out, Port() + ": programming eeprom...\n" + Port() +
                               ": programming interrupted: Aborted.\n" + Port() +
                               ": the eeprom was written back and verified before the stop; the "
                               "flash is not programmed\n"))
        << r.Out;
    EXPECT_EQ(TotalRow(r.Out), (std::vector<std::string>{"all", "ports", "0", "1", "0"})) << r.Out;
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("eeprom.bin")), Eeprom);
    EXPECT_EQ(Cli({"pending"}).Out, "no pending eeprom copies\n");
}

// The terminal closes during an update (SIGHUP): the update carries on to its end, and the
// station, whose screen nobody sees any more, waits for no further board.
TEST_F(Station, ClosedTerminalLetsTheUpdateFinishThenEnds) {
    StartBench({"--eeprom-in", Scratch("eeprom.in"), "--baud-pace"});
    LiveCommand station;
    ASSERT_TRUE(station.Start(StationCommand()));
    ASSERT_TRUE(station.WaitForLine(Port() + ": Reading EEProm... 20%"));
    station.Signal(SIGHUP);
    const CommandResult r = station.Finish();
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out, Port() + ": done without any problem.\n")) << r.Out;
    EXPECT_FALSE(Has(r.Err, "q40prog-cli: stopping")) << r.Err;
    EXPECT_EQ(TotalRow(r.Out), (std::vector<std::string>{"all", "ports", "1", "0", "0"})) << r.Out;
    EXPECT_EQ(RecordCount(), 1u);
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("flash.bin")), Stamped());
    EXPECT_EQ(ReadBytes(Scratch("eeprom.bin")), Eeprom);
}

// Ctrl-C typed on the station's terminal, which echoes "^C" after the board: the board is
// erased from the start of the line, so no characters of it stay beside the stop notice.
TEST_F(Station, CtrlCOnTheTerminalLeavesNoStrayCharacters) {
    StartBench({"--target-absent"});
    TerminalCommand station;
    ASSERT_TRUE(station.Start(StationCommand()));
    ASSERT_TRUE(station.WaitFor("waiting for a board")) << station.Screen();
    station.Type("\x03");
    ASSERT_TRUE(station.WaitFor("q40prog-cli: stopping the station")) << station.Screen();
    EXPECT_EQ(station.Finish(), 0);
    const std::string screen = station.Screen();
    const auto echo = screen.find("^C");
    ASSERT_NE(echo, std::string::npos) << screen;
    const auto notice = screen.find("q40prog-cli: stopping the station");
    ASSERT_GT(notice, echo);
    // Every move up to the board's first line starts at the line's start.
    std::size_t moves = 0;
    for (auto at = screen.find("\x1b[3A"); at != std::string::npos;
         at = screen.find("\x1b[3A", at + 1)) {
        ++moves;
        EXPECT_EQ(screen.substr(at - 1, 1), "\r") << screen.substr(at > 20 ? at - 20 : 0, 40);
    }
    EXPECT_GT(moves, 0u);
    EXPECT_NE(screen.find("\r\x1b[3A\x1b[Jq40prog-cli: stopping the station", echo),
              std::string::npos)
        << screen.substr(echo);
}

// A pending copy of the chip: an empty EEPROM is a new board, said in the log; a device that
// holds the first blocks of the copy gets the whole copy back; both without a question.
TEST_F(Station, NeverAsksAboutAPendingCopy) {
    const std::string copy = Data + "/eeprom/eeprom-ATmega644P-ttyUSB9-20260101-000000-000.bin";
    std::filesystem::create_directories(Data + "/eeprom");
    WriteBytes(copy, Eeprom);
    ASSERT_EQ(MarkPending(Data, {copy, "ATmega644P", "ttyUSB9", std::chrono::system_clock::now()}),
              0);

    StartBench({});  // a new board: its EEPROM is empty
    LiveCommand fresh;
    ASSERT_TRUE(fresh.Start(StationCommand()));
    ASSERT_TRUE(fresh.WaitForLine(Port() + ": done. "));
    fresh.Signal(SIGINT);
    CommandResult r = fresh.Finish();
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out, Port() +
                               ": the eeprom is empty and a pending eeprom copy of an ATmega644P "
                               "exists; the station takes this board for a new one\n" +
                               Port() + ": keeping the eeprom as read; pending eeprom copy " +
                               copy + " not used\n"))
        << r.Out;
    CommandResult listed = Cli({"pending"});
    EXPECT_EQ(listed.ExitCode, 0);
    EXPECT_TRUE(Has(listed.Out, "ATmega644P  ttyUSB9  " + copy + "\n")) << listed.Out;
    ASSERT_EQ(StopBox(), 0);

    std::vector<uint8_t> half(EepromBytes, isp::Blank);  // a write-back cut after 8 blocks
    std::copy(Eeprom.begin(), Eeprom.begin() + 0x100, half.begin());
    WriteBytes(Scratch("half.in"), half);
    StartBench({"--eeprom-in", Scratch("half.in")});
    LiveCommand retry;
    ASSERT_TRUE(retry.Start(StationCommand()));
    ASSERT_TRUE(retry.WaitForLine(Port() + ": done. "));
    retry.Signal(SIGINT);
    r = retry.Finish();
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_TRUE(
        Has(r.Out, Port() + ": restoring eeprom from " + copy + " left by an interrupted update\n"))
        << r.Out;
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("eeprom.bin")), Eeprom);
    EXPECT_EQ(Cli({"pending"}).Out, "no pending eeprom copies\n");
}

TEST_F(Station, PendingForgetsAMarkAndKeepsTheCopy) {
    const std::string copy = Data + "/eeprom/eeprom-ATmega644P-ttyUSB9-20260101-000000-000.bin";
    std::filesystem::create_directories(Data + "/eeprom");
    WriteBytes(copy, Eeprom);
    ASSERT_EQ(MarkPending(Data, {copy, "ATmega644P", "ttyUSB9", std::chrono::system_clock::now()}),
              0);
    CommandResult r = Cli({"pending", "--forget", Scratch("no-such.bin")});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_TRUE(Has(r.Err, "no-such.bin is not pending")) << r.Err;
    EXPECT_TRUE(Has(Cli({"pending"}).Out, copy));

    r = Cli({"pending", "--forget", copy});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "forgotten: " + copy + "\n");
    EXPECT_EQ(Cli({"pending"}).Out, "no pending eeprom copies\n");
    EXPECT_EQ(ReadBytes(copy), Eeprom);
}

// A board that holds only the first two blocks of a pending copy, blocks that a copy of
// another unit updated here holds too: it could be any board of the product. The station
// fails it before the erase with the copy's name and the ways on, and goes on with the next.
TEST_F(Station, LookalikeBoardFailsBeforeTheEraseAndTheStationGoesOn) {
    std::filesystem::create_directories(Data + "/eeprom");
    const std::vector<uint8_t> other = RandomBytes(EepromBytes, 53);
    std::vector<uint8_t> unit = other;  // the same first two blocks, its own data after them
    std::copy_n(Eeprom.begin() + 0x40, EepromBytes - 0x40, unit.begin() + 0x40);
    const std::string y = Data + "/eeprom/eeprom-ATmega644P-ttyUSB5-20250101-000000-000.bin";
    WriteBytes(y, other);
    std::filesystem::last_write_time(
        y, std::filesystem::file_time_type::clock::now() - std::chrono::hours(24));
    const std::string copy = Data + "/eeprom/eeprom-ATmega644P-ttyUSB9-20260101-000000-000.bin";
    WriteBytes(copy, unit);
    ASSERT_EQ(MarkPending(Data, {copy, "ATmega644P", "ttyUSB9", std::chrono::system_clock::now()}),
              0);
    std::vector<uint8_t> lookalike(EepromBytes, isp::Blank);
    std::copy_n(unit.begin(), 0x40, lookalike.begin());
    WriteBytes(Scratch("lookalike.in"), lookalike);

    StartBench({"--target-absent", "--eeprom-in", Scratch("lookalike.in")});
    LiveCommand station;
    ASSERT_TRUE(station.Start(StationCommand()));
    const std::string waiting = Port() + ": waiting for a board";
    const std::string failed = Port() +
                               ": FAILED: Stopped before the erase: an EEPROM copy may belong to "
                               "this device. Take the board off.";
    ASSERT_TRUE(station.WaitForLine(waiting));
    Board(SIGUSR1);
    ASSERT_TRUE(station.WaitForLines(failed, 1)) << station.SoFar().Out << station.SoFar().Err;
    Board(SIGUSR2);
    ASSERT_TRUE(station.WaitForLines(waiting, 2));  // seen off: the next board may come
    Board(SIGUSR1);                                 // the same kind of board again
    ASSERT_TRUE(station.WaitForLines(failed, 2)) << station.SoFar().Out << station.SoFar().Err;
    station.Signal(SIGINT);
    const CommandResult r = station.Finish();
    EXPECT_EQ(r.ExitCode, 1) << r.Out << r.Err;
    EXPECT_TRUE(Has(r.Out, Port() +
                               ": programming interrupted: Stopped before the erase: an EEPROM "
                               "copy may belong to this device.\n"))
        << r.Out;
    EXPECT_TRUE(Has(r.Out, "Update this board with program --use-eeprom-copy " + copy +
                               " if it is that device, or with program --keep-device-eeprom if "
                               "it is not."))
        << r.Out;
    EXPECT_FALSE(Has(r.Out, "erasing chip")) << r.Out;
    EXPECT_EQ(TotalRow(r.Out), (std::vector<std::string>{"all", "ports", "0", "2", "0"})) << r.Out;
    ASSERT_EQ(StopBox(), 0);
    EXPECT_EQ(ReadBytes(Scratch("eeprom.bin")), lookalike);
    EXPECT_TRUE(Has(Cli({"pending"}).Out, copy));
}

// A port that is not there yet (an adapter still to be plugged in) is waited for, and said
// so in words; a name that can never be a serial port is refused at the start.
TEST_F(Station, APortToComeIsWaitedForAndANonPortRefused) {
    StartBench({"--target-absent", "--eeprom-in", Scratch("eeprom.in")});
    std::ofstream(Scratch("file")) << "x";
    std::filesystem::create_directory(Scratch("folder"));
    const struct {
        std::string Port;
        std::string Problem;
    } refused[] = {
        {Scratch("file"), Scratch("file") + " is a regular file, not a serial port"},
        {Scratch("folder"), Scratch("folder") + " is a directory, not a serial port"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.Port);
        const CommandResult r = RunCommand({Q40_CLI, "station", "--port", Port(), "--port", c.Port,
                                            "--firmware", Scratch("fw.bin")});
        EXPECT_EQ(r.ExitCode, 2);
        EXPECT_EQ(r.Out, "");
        EXPECT_EQ(r.Err.substr(0, r.Err.find('\n')), "q40prog-cli station: " + c.Problem);
    }

    const std::string later = Scratch("ttyLATER");
    LiveCommand station;
    ASSERT_TRUE(
        station.Start({Q40_CLI, "station", "--port", later, "--firmware", Scratch("fw.bin")}));
    ASSERT_TRUE(station.WaitForLine(later + ": " + later + " does not exist yet; waiting for it"))
        << station.SoFar().Out << station.SoFar().Err;
    std::filesystem::create_symlink(Port(), later);  // plugged in
    Board(SIGUSR1);
    ASSERT_TRUE(station.WaitForLine(later + ": done. This port 1 done, 0 failed;"))
        << station.SoFar().Out << station.SoFar().Err;
    station.Signal(SIGINT);
    const CommandResult r = station.Finish();
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    EXPECT_EQ(ReadBytes(Scratch("flash.bin")), Stamped());
}

namespace {
const std::string Red = "\x1b[1;31m", Yellow = "\x1b[1;33m";
// The first rows of the large words' first two letters, as the board draws them.
const std::string LargeFail = Red + "█▀▀ ▄▀▄ ", LargeOff = Yellow + "█▀█ █▀▀ ";
// Wide enough for the alarm line with a pseudo-terminal's path as the port.
constexpr int BoardColumns = 120;
}  // namespace

// On the operator's terminal: three boards that fail in a row on one socket raise the alarm
// on its block, with the port as given, and ring the bell three times; the first two ring it
// once each and raise nothing.
TEST_F(Station, ThreeFailuresInARowRaiseTheAlarmAndRingTheBell) {
    StartBench({"--stuck-flash", "0x100", "--eeprom-in", Scratch("eeprom.in")});
    const std::string alarm =
        Red + "!!! " + Port() +
        ": 3 boards in a row failed: check the box, its cable and the adapter";
    TerminalCommand station;
    ASSERT_TRUE(station.Start(StationCommand(), BoardColumns));
    std::size_t mark = 0;
    for (int board = 1; board <= 3; ++board) {
        SCOPED_TRACE(board);
        if (board > 1) {  // the failed board off, and once the station has seen it go, the next
            mark = station.Screen().size();
            Board(SIGUSR2);
            ASSERT_TRUE(station.WaitForAfter(mark, "waiting for a board")) << station.Screen();
            mark = station.Screen().size();
            Board(SIGUSR1);
        }
        ASSERT_TRUE(station.WaitForAfter(
            mark, "0 done, " + std::to_string(board) + " failed, 0 taken off, yield 0.0%"))
            << station.Screen().substr(mark);
        ASSERT_TRUE(station.WaitForAfter(mark, "cause: verify mismatch"));
        const std::string since = station.Screen().substr(mark);
        EXPECT_TRUE(Has(since, LargeFail)) << since;
        EXPECT_EQ(Has(station.Screen(), alarm), board == 3) << since;
        EXPECT_EQ(Has(station.Screen(), "\a\a\a"), board == 3);
    }
    EXPECT_TRUE(Has(station.Screen(), Port() + ": 3 boards in a row failed: check the box, its "
                                               "cable and the adapter\x1b[K"))
        << "the alarm among the last events";
    station.Type("\x03");
    EXPECT_EQ(station.Finish(), ExitNeedsRun);
    EXPECT_EQ(Count(station.Screen(), "\a"), 5u);
    EXPECT_EQ(TotalRow(station.Screen()), (std::vector<std::string>{"all", "ports", "0", "3", "0"}))
        << station.Screen();
    EXPECT_EQ(RecordCount(), 3u);
}

// A board taken off in the middle of its flash is counted as taken off, shown as such in
// yellow, and is no failure: neither in the counts and the yield, nor in the totals; the next
// board on the socket is updated as usual.
TEST_F(Station, BoardTakenOffDuringItsUpdateIsNoChipFailure) {
    // Identification and the EEPROM take some 3000 bytes, the flash of the image some 17000.
    StartBench({"--target-off-after", "8000"});
    TerminalCommand station;
    ASSERT_TRUE(station.Start(StationCommand(), BoardColumns));
    ASSERT_TRUE(station.WaitFor("0 done, 0 failed, 1 taken off, yield -")) << station.Screen();
    ASSERT_TRUE(station.WaitFor("cause: target lost")) << station.Screen();
    EXPECT_TRUE(Has(station.Screen(), LargeOff)) << station.Screen();
    EXPECT_TRUE(Has(station.Screen(), "board taken off")) << station.Screen();
    EXPECT_FALSE(Has(station.Screen(), LargeFail)) << station.Screen();
    EXPECT_FALSE(Has(station.Screen(), "boards in a row failed")) << station.Screen();
    // The box answers but no chip does: the station sees the board gone by itself.
    std::size_t mark = station.Screen().size();
    ASSERT_TRUE(station.WaitForAfter(mark, "waiting for a board")) << station.Screen();
    mark = station.Screen().size();
    Board(SIGUSR1);
    ASSERT_TRUE(station.WaitForAfter(mark, "1 done, 0 failed, 1 taken off, yield 100.0%"))
        << station.Screen().substr(mark);
    station.Type("\x03");
    EXPECT_EQ(station.Finish(), ExitNeedsRun);
    EXPECT_EQ(TotalRow(station.Screen()), (std::vector<std::string>{"all", "ports", "1", "0", "1"}))
        << station.Screen();
    EXPECT_EQ(RecordCount(), 2u);
    std::ifstream records(Data + "/runs.jsonl");
    std::string first;
    std::getline(records, first);
    EXPECT_TRUE(Has(first, "\"cause\":\"target lost\"")) << first;
}
