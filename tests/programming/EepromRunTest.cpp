// The EEPROM across runs against the in-process box: restore-eeprom over other data, the
// retry after an interrupted write-back, the question where nobody can tell (a blank EEPROM,
// boards that look like a half-restored unit), a record of pending copies that cannot be
// used, the erase that keeps the EEPROM (EESAVE), and runs started together that must never
// share a file.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "programming/DeviceReadRun.h"
#include "programming/EepromCopy.h"
#include "programming/EepromRestore.h"
#include "programming/PendingCopies.h"
#include "programming/ProgrammingRun.h"
#include "tests/support/BoxFactory.h"
#include "tests/support/LogStamps.h"
#include "tests/support/RecordingReport.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestData.h"
#include "tests/support/Trace.h"

namespace {
constexpr std::size_t Block = 32;

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// EEPROM content worth keeping: data with blank blocks among it and at its end.
std::vector<uint8_t> Keepsake(std::size_t size, unsigned key) {
    std::vector<uint8_t> e = RandomBytes(size, key);
    for (const std::size_t blank : {1u, 4u, 5u})
        std::fill(e.begin() + static_cast<long>(blank * Block),
                  e.begin() + static_cast<long>((blank + 1) * Block), 0xFF);
    std::fill(e.end() - static_cast<long>(8 * Block), e.end(), 0xFF);
    return e;
}

struct EepromRuns : ::testing::Test {
    EepromRuns() {
        Original = Keepsake(Box.Box.Target.Eeprom.size(), 11);
        Box.Box.Target.Eeprom = Original;
        WriteFile(Temp.File("fw.bin"), RandomBytes(0x1000, 12));
    }

    RunOutcome Program(RecordingReport& report, const std::string& port = "ttySIM0",
                       const std::string& copyToWrite = {}) {
        RunParams params;
        params.FirmwarePath = Temp.File("fw.bin");
        params.PortName = port;
        ProgrammingRun run(params, report, Box.Factory(),
                           RunOptions{Temp.File("data"), "", copyToWrite});
        return run.Execute();
    }

    // A run whose write-back ends after 'blocks' EEPROM progress calls, the box unplugged
    // there (a stop would wait for the write-back): the device keeps the first blocks of its
    // copy, blank after them. The box is back for what follows.
    RunOutcome Interrupt(int blocks) {
        struct UnplugReport : RecordingReport {
            bool Progress(int32_t position, int32_t total, ProgressPhase phase) override {
                if (phase == phProgramEeprom && ++Calls > Blocks) Box->Unplugged = true;
                return RecordingReport::Progress(position, total, phase);
            }
            BoxFactory* Box = nullptr;
            int Blocks = 0, Calls = 0;
        } report;
        report.Box = &Box;
        report.Blocks = blocks;
        const RunOutcome o = Program(report);
        Box.Unplugged = false;
        EXPECT_EQ(o.Code, errSerialPort);
        EXPECT_TRUE(o.DeviceTouched);
        return o;
    }

    std::vector<std::string> PendingPaths() {
        std::vector<PendingCopy> copies;
        EXPECT_EQ(ReadPendingCopies(Temp.File("data"), copies), 0);
        std::vector<std::string> paths;
        for (const PendingCopy& c : copies) paths.push_back(c.Path);
        return paths;
    }

    static bool Logged(const RecordingReport& r, const std::string& line) {
        return std::find(r.Lines.begin(), r.Lines.end(), line) != r.Lines.end();
    }

    TempFolder Temp;
    BoxFactory Box;
    std::vector<uint8_t> Original;
};
}  // namespace

TEST_F(EepromRuns, RestoreWritesEveryBlockOverOtherData) {
    const std::vector<uint8_t> other = RandomBytes(Original.size(), 13);  // no blank block
    Box.Box.Target.Eeprom = other;
    WriteFile(Temp.File("eeprom-ATmega644P-ttyS0-1.bin"), Original);
    RecordingReport report;
    const RunOutcome o = RestoreEeprom("ttySIM0", Temp.File("eeprom-ATmega644P-ttyS0-1.bin"),
                                       report, Box.Factory(), Temp.File("data"));
    ASSERT_TRUE(o.Success) << o.Message;
    EXPECT_EQ(Box.Box.Target.Eeprom, Original);  // its blank blocks too
    EXPECT_EQ(ReadFile(o.EepromSavedPath), other);
    EXPECT_EQ(Box.Box.Target.ChipErases, 0);
    EXPECT_TRUE(Logged(report, "saving eeprom copy to " + o.EepromSavedPath));
    EXPECT_TRUE(Logged(report, "verifying eeprom..."));
    EXPECT_EQ(report.Lines.back(), "done without any problem.");
    EXPECT_NE(std::find(report.Phases.begin(), report.Phases.end(), phVerifyEeprom),
              report.Phases.end());
    // A log file and a record line, as for a programming run.
    std::string logText;
    for (const auto& l : report.Lines) logText += l + "\n";
    const auto log = ReadFile(o.LogPath);
    EXPECT_EQ(WithoutStamps(std::string(log.begin(), log.end())), logText);
    const auto record = ReadFile(Temp.File("data/runs.jsonl"));
    const auto j = nlohmann::json::parse(std::string(record.begin(), record.end()));
    EXPECT_EQ(j["operation"], "restore-eeprom");
    EXPECT_EQ(j["outcome"], "done");
    EXPECT_EQ(j["chip"], "ATmega644P");
    EXPECT_EQ(j["port"], "ttySIM0");
    EXPECT_EQ(j["eeprom_copy"], Temp.File("eeprom-ATmega644P-ttyS0-1.bin"));
    EXPECT_EQ(j["eeprom_saved"], o.EepromSavedPath);
    EXPECT_EQ(j["log"], o.LogPath);
}

TEST_F(EepromRuns, RestoreChecksTheCopysSizeBeforeReadingIt) {
    const std::string huge = Temp.File("eeprom-ATmega644P-ttyS0-2.bin");
    WriteFile(huge, {});
    std::filesystem::resize_file(huge, 3ULL << 30);  // sparse: 3 GB that take no room
    RecordingReport report;
    const RunOutcome o = RestoreEeprom("ttySIM0", huge, report, Box.Factory(), Temp.File("data"));
    EXPECT_EQ(o.Code, errBackupRead);
    EXPECT_NE(o.Detail.find("holds 3221225472 bytes"), std::string::npos) << o.Detail;
    EXPECT_FALSE(o.DeviceTouched);
    EXPECT_TRUE(Box.Written.empty());  // the port was never opened
}

TEST_F(EepromRuns, RetryFinishesAnInterruptedWriteBack) {
    for (const char* port : {"ttySIM0", "ttySIM1"}) {
        SCOPED_TRACE(port);
        Box.Box.Target.Eeprom = Original;
        const RunOutcome failed = Interrupt(6);
        ASSERT_EQ(failed.Code, errSerialPort);
        ASSERT_NE(Box.Box.Target.Eeprom, Original);
        EXPECT_EQ(PendingPaths(), std::vector<std::string>{failed.EepromCopyPath});

        RecordingReport retry;
        const RunOutcome o = Program(retry, port);
        ASSERT_TRUE(o.Success) << o.Message;
        EXPECT_TRUE(Logged(retry, "restoring eeprom from " + failed.EepromCopyPath +
                                      " left by an interrupted update"));
        EXPECT_TRUE(retry.Questions.empty());
        EXPECT_EQ(Box.Box.Target.Eeprom, Original);
        EXPECT_EQ(o.EepromCopyPath, failed.EepromCopyPath);
        EXPECT_NE(o.EepromSavedPath, failed.EepromCopyPath);  // the half-restored EEPROM
        EXPECT_TRUE(PendingPaths().empty());
    }
}

TEST_F(EepromRuns, RestoreOfAPendingCopyClearsItsMark) {
    const RunOutcome failed = Interrupt(2);
    ASSERT_EQ(PendingPaths(), std::vector<std::string>{failed.EepromCopyPath});
    RecordingReport report;
    const RunOutcome o =
        RestoreEeprom("ttySIM0", failed.EepromCopyPath, report, Box.Factory(), Temp.File("data"));
    ASSERT_TRUE(o.Success) << o.Message;
    EXPECT_EQ(Box.Box.Target.Eeprom, Original);
    EXPECT_TRUE(PendingPaths().empty());
}

TEST_F(EepromRuns, ABlankEepromIsNeverGuessed) {
    const RunOutcome failed = Interrupt(0);  // nothing written back: blank
    const std::vector<uint8_t> blank(Original.size(), 0xFF);
    ASSERT_EQ(Box.Box.Target.Eeprom, blank);

    RecordingReport stop;  // no answer: the run stops before the erase
    RunOutcome o = Program(stop);
    EXPECT_EQ(o.Code, errEepromUndecided);
    EXPECT_FALSE(o.DeviceTouched);
    EXPECT_EQ(Box.Box.Target.ChipErases, 1);  // only the interrupted run's
    ASSERT_EQ(stop.Questions.size(), 1u);
    EXPECT_TRUE(stop.Questions[0].DeviceBlank);
    EXPECT_EQ(stop.Questions[0].Chip, "ATmega644P");
    ASSERT_EQ(stop.Questions[0].Candidates.size(), 1u);
    EXPECT_EQ(stop.Questions[0].Candidates[0].Path, failed.EepromCopyPath);
    EXPECT_NE(o.Detail.find(failed.EepromCopyPath), std::string::npos) << o.Detail;

    RecordingReport keep;  // a new board after all
    keep.Answer.Kind = EepromAnswer::KeepDevice;
    o = Program(keep);
    ASSERT_TRUE(o.Success) << o.Message;
    EXPECT_EQ(Box.Box.Target.Eeprom, blank);
    EXPECT_TRUE(Logged(keep, "keeping the eeprom as read; pending eeprom copy " +
                                 failed.EepromCopyPath + " not used"));
    EXPECT_EQ(PendingPaths(), std::vector<std::string>{failed.EepromCopyPath});

    RecordingReport yes;  // that device after all
    yes.Answer.Kind = EepromAnswer::WriteCopy;
    yes.Answer.CopyPath = failed.EepromCopyPath;
    o = Program(yes);
    ASSERT_TRUE(o.Success) << o.Message;
    EXPECT_EQ(Box.Box.Target.Eeprom, Original);
    EXPECT_TRUE(PendingPaths().empty());
}

TEST_F(EepromRuns, NothingHappensWithoutAFittingPendingCopy) {
    const std::vector<uint8_t> other = Keepsake(Original.size(), 14);
    const struct {
        const char* name;
        std::string pendingChip;
        std::vector<uint8_t> pendingBytes;
    } cases[] = {
        {"no pending copy", "", {}},
        {"a pending copy of another chip", "ATmega2560", std::vector<uint8_t>(0x800, 0x11)},
        {"a pending copy that matches none", "ATmega644P", other},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder data;
        if (!c.pendingChip.empty()) {
            const std::string path = data.File("eeprom-" + c.pendingChip + "-x.bin");
            WriteFile(path, c.pendingBytes);
            ASSERT_EQ(MarkPending(Temp.File("data"),
                                  {path, c.pendingChip, "ttyS9", std::chrono::system_clock::now()}),
                      0);
        }
        Box.Box.Target.Eeprom = Original;
        RecordingReport report;
        const RunOutcome o = Program(report);
        ASSERT_TRUE(o.Success) << o.Message;
        EXPECT_TRUE(report.Questions.empty());
        for (const auto& line : report.Lines) EXPECT_EQ(line.find("restoring"), std::string::npos);
        EXPECT_EQ(Box.Box.Target.Eeprom, Original);
        EXPECT_EQ(o.EepromCopyPath, o.EepromSavedPath);
        ClearPending(Temp.File("data"), PendingPaths());
    }
}

TEST_F(EepromRuns, ChosenCopyIsWrittenInsteadOfWhatWasRead) {
    const std::string copy = Temp.File("eeprom-ATmega644P-ttyS3-1.bin");
    WriteFile(copy, Original);
    const std::vector<uint8_t> other = RandomBytes(Original.size(), 15);
    Box.Box.Target.Eeprom = other;
    RecordingReport report;
    const RunOutcome o = Program(report, "ttySIM0", copy);
    ASSERT_TRUE(o.Success) << o.Message;
    EXPECT_EQ(Box.Box.Target.Eeprom, Original);
    EXPECT_EQ(ReadFile(o.EepromSavedPath), other);
    EXPECT_EQ(o.EepromCopyPath, copy);
    EXPECT_TRUE(Logged(report, "writing eeprom copy " + copy + " instead of the eeprom read"));

    // A copy of another chip is refused before anything is erased.
    const std::string wrong = Temp.File("eeprom-ATmega2560-ttyS3-1.bin");
    WriteFile(wrong, std::vector<uint8_t>(0x800, 0x22));
    const int erases = Box.Box.Target.ChipErases;
    const RunOutcome refused = Program(report, "ttySIM0", wrong);
    EXPECT_EQ(refused.Code, errBackupMismatch);
    EXPECT_FALSE(refused.DeviceTouched);
    EXPECT_EQ(Box.Box.Target.ChipErases, erases);
}

// Many pairs of runs on one machine, started together, into one data folder and under one
// port name: each finds its own device's EEPROM in its copy and its own lines in its log.
TEST(ParallelRuns, NeverShareAFile) {
    TempFolder temp;
    WriteFile(temp.File("fw.bin"), RandomBytes(0x400, 16));
    constexpr int Pairs = 25;
    std::set<std::string> copies, logs;
    for (int pair = 0; pair < Pairs; ++pair) {
        BoxFactory boxes[2];
        RecordingReport reports[2];
        RunOutcome outcomes[2];
        std::atomic<int> ready{0};
        std::vector<std::thread> runs;
        for (int i = 0; i < 2; ++i) {
            boxes[i].Box.Target.Eeprom =
                RandomBytes(0x800, static_cast<unsigned>(100 + 2 * pair + i));
            runs.emplace_back([&, i] {
                RunParams params;
                params.FirmwarePath = temp.File("fw.bin");
                params.PortName = "ttyUSB0";
                ProgrammingRun run(params, reports[i], boxes[i].Factory(),
                                   RunOptions{temp.File("data"), ""});
                ++ready;
                while (ready < 2) std::this_thread::yield();  // start together
                outcomes[i] = run.Execute();
            });
        }
        for (auto& r : runs) r.join();
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(outcomes[i].Success) << outcomes[i].Message;
            EXPECT_EQ(ReadFile(outcomes[i].EepromCopyPath), boxes[i].Box.Target.Eeprom);
            std::string logText;
            for (const auto& l : reports[i].Lines) logText += l + "\n";
            const auto log = ReadFile(outcomes[i].LogPath);
            EXPECT_EQ(WithoutStamps(std::string(log.begin(), log.end())), logText);
            copies.insert(outcomes[i].EepromCopyPath);
            logs.insert(outcomes[i].LogPath);
        }
    }
    EXPECT_EQ(copies.size(), 2u * Pairs);
    EXPECT_EQ(logs.size(), 2u * Pairs);
    const auto records = ReadFile(temp.File("data/runs.jsonl"));
    std::istringstream lines(std::string(records.begin(), records.end()));
    std::set<std::string> recordedLogs;
    for (std::string line; std::getline(lines, line);) {
        const auto j = nlohmann::json::parse(line);
        recordedLogs.insert(j["log"].get<std::string>());
        EXPECT_EQ(copies.count(j["eeprom_copy"].get<std::string>()), 1u);
    }
    EXPECT_EQ(recordedLogs, logs);
}

namespace {
// Boards of one product carry the same header and default table in their first two blocks;
// a unit adds its calibration and its serial number.
std::vector<uint8_t> Board(std::size_t size) {
    std::vector<uint8_t> e(size, 0xFF);
    const std::string header = "KARDO-Q40 HDR v1";  // 16 bytes, blank after in its block
    std::copy(header.begin(), header.end(), e.begin());
    for (std::size_t i = 0; i < Block; ++i) e[Block + i] = static_cast<uint8_t>(0x40 + i);
    return e;
}

std::vector<uint8_t> Unit(std::size_t size, char name) {
    std::vector<uint8_t> e = Board(size);
    const std::string calibration = std::string("CAL-") + name + "-0123456789abcdefghijklmnopq";
    std::copy(calibration.begin(), calibration.begin() + Block, e.begin() + 2 * Block);
    const std::string serial = std::string("SERIAL ") + name + " 2026-000123";
    std::copy(serial.begin(), serial.end(), e.begin() + 0x400);
    return e;
}

std::vector<uint8_t> FirstBlocks(const std::vector<uint8_t>& e, std::size_t blocks) {
    std::vector<uint8_t> part(e.size(), 0xFF);
    std::copy(e.begin(), e.begin() + static_cast<long>(blocks * Block), part.begin());
    return part;
}

int ErasesSent(const std::vector<uint8_t>& written) {
    int erases = 0;
    for (const TraceFrame& f : SplitTrace(written))
        erases += f.Letter == 'I' && f.Tail.size() >= 2 && f.Tail[0] == 0xAC && f.Tail[1] == 0x80;
    return erases;
}

// The EEPROM frames after the erase, as "w0040" (a block written at 0x40) and "r0040".
std::vector<std::string> EepromFramesAfterErase(const std::vector<uint8_t>& written) {
    std::vector<std::string> frames;
    bool erased = false;
    for (const TraceFrame& f : SplitTrace(written)) {
        if (f.Letter == 'I' && f.Tail.size() >= 2 && f.Tail[0] == 0xAC && f.Tail[1] == 0x80)
            erased = true;
        if (!erased || (f.Letter != 'w' && f.Letter != 'r')) continue;
        char text[8];
        std::snprintf(text, sizeof text, "%c%02X%02X", f.Letter, f.Tail[0], f.Tail[1]);
        frames.emplace_back(text);
    }
    return frames;
}

std::string At(char letter, std::size_t address) {
    char text[8];
    std::snprintf(text, sizeof text, "%c%04X", letter, static_cast<unsigned>(address));
    return text;
}

// A report that does something to the files when the run writes a given log line.
struct HookedReport : RecordingReport {
    void Log(const std::string& line) override {
        RecordingReport::Log(line);
        if (line.rfind(When, 0) == 0 && Do) Do();
    }
    std::string When;
    std::function<void()> Do;
};
}  // namespace

// Two boards that look like what an interrupted write-back of unit X's copy leaves, and are
// not: one holds a byte of X's first block only (no write-back writes less than a block), the
// other only the header and table that every board carries (a copy of another unit updated
// here holds them too). Neither gets X's bytes without a person saying so; a device that holds
// X's calibration block as well is X and gets its copy back unasked.
TEST_F(EepromRuns, LookalikeBoardsNeverGetAnotherUnitsEeprom) {
    const std::size_t size = Original.size();
    const std::vector<uint8_t> x = Unit(size, 'X');
    std::filesystem::create_directories(Temp.File("data/eeprom"));
    const std::string y =
        Temp.File("data/eeprom/eeprom-ATmega644P-ttyUSB5-20250101-000000-000.bin");
    WriteFile(y, Unit(size, 'Y'));
    std::filesystem::last_write_time(
        y, std::filesystem::file_time_type::clock::now() - std::chrono::hours(24));
    const std::string copy =
        Temp.File("data/eeprom/eeprom-ATmega644P-ttyUSB9-20260101-000000-000.bin");
    WriteFile(copy, x);
    std::vector<uint8_t> oneByte(size, 0xFF);
    oneByte[0] = x[0];
    const struct {
        const char* name;
        std::vector<uint8_t> device;
        bool asked;
        std::vector<uint8_t> after;  // the device's EEPROM once the run has ended
    } cases[] = {
        {"one byte of X's first block", oneByte, false, oneByte},
        {"a lone header", FirstBlocks(x, 1), true, FirstBlocks(x, 1)},
        {"header and table, as every board", FirstBlocks(x, 2), true, FirstBlocks(x, 2)},
        {"X's calibration too", FirstBlocks(x, 3), false, x},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(MarkPending(Temp.File("data"),
                              {copy, "ATmega644P", "ttyUSB9",
                               std::chrono::system_clock::now() - std::chrono::minutes(10)}),
                  0);
        Box.Box.Target.Eeprom = c.device;
        Box.Written.clear();
        RecordingReport report;  // no answer: a question stops the run
        const RunOutcome o = Program(report);
        EXPECT_EQ(Box.Box.Target.Eeprom, c.after);
        EXPECT_EQ(report.Questions.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(o.Code, errEepromUndecided);
            EXPECT_FALSE(o.DeviceTouched);
            EXPECT_EQ(ErasesSent(Box.Written), 0);
            EXPECT_TRUE(report.Questions[0].DeviceCommon);
            ASSERT_EQ(report.Questions[0].Candidates.size(), 1u);
            EXPECT_EQ(report.Questions[0].Candidates[0].Path, copy);
            EXPECT_NE(o.Detail.find(copy), std::string::npos) << o.Detail;
            EXPECT_EQ(PendingPaths(), std::vector<std::string>{copy});
        } else {
            ASSERT_TRUE(o.Success) << o.Message;
            const bool restored = c.after == x;
            EXPECT_EQ(
                Logged(report, "restoring eeprom from " + copy + " left by an interrupted update"),
                restored);
            EXPECT_EQ(PendingPaths(),
                      restored ? std::vector<std::string>{} : std::vector<std::string>{copy});
        }
    }
}

// Whenever the pending record cannot be read, locked or written, the run ends before the
// erase with its own failure and the file and reason on the detail line: a half-restored
// device whose copy nobody could find again is worse than a run that did not start.
TEST_F(EepromRuns, PendingRecordThatCannotBeUsedStopsBeforeTheErase) {
    const std::string data = Temp.File("data");
    const std::string record = PendingRecordPath(data);
    const std::string lock = data + "/pending-eeprom.lock";
    const std::string copy = Temp.File("eeprom-ATmega644P-ttyUSB9-1.bin");
    WriteFile(copy, Original);
    const auto cutShort = [&] {
        std::ofstream(record) << "{\"pending\": [{\"chip\": \"ATmega644P\", \"copy\": \"" << copy
                              << "\", \"port\": \"ttyUSB9\", \"ti";
    };
    const struct {
        const char* name;
        std::function<void()> before;      // before the run
        std::function<void()> duringRead;  // while the run reads the EEPROM
        std::string file, reason;
        bool portOpened;
    } cases[] = {
        {"record cut short", cutShort, nullptr, record,
         "not a record of pending copies (cut short or damaged)", false},
        {"record is a directory", [&] { std::filesystem::create_directories(record); }, nullptr,
         record, "Is a directory", false},
#ifndef _WIN32
        {"record is a FIFO", [&] { ASSERT_EQ(mkfifo(record.c_str(), 0644), 0); }, nullptr, record,
         "not a regular file", false},
#endif
        {"lock path is a directory", [&] { std::filesystem::create_directories(lock); }, nullptr,
         lock, "Is a directory", false},
        {"record cut short while the EEPROM is read", nullptr, cutShort, record,
         "not a record of pending copies (cut short or damaged)", true},
    };
    // A restore too: cut short, it leaves a device that only the copy's mark can explain.
    const std::vector<uint8_t> other = RandomBytes(Original.size(), 14);
    for (const auto& c : cases)
        for (const bool restore : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (restore ? ", restore-eeprom" : ", program"));
            std::filesystem::remove_all(data);
            std::filesystem::create_directories(data);
            if (c.before) c.before();
            const std::vector<uint8_t> held = restore ? other : Original;
            Box.Box.Target.Eeprom = held;
            Box.Written.clear();
            HookedReport report;
            report.When = "reading eeprom...";
            report.Do = c.duringRead;
            const RunOutcome o = restore
                                     ? RestoreEeprom("ttySIM0", copy, report, Box.Factory(), data)
                                     : Program(report);
            EXPECT_EQ(o.Code, errPendingRecord);
            EXPECT_EQ(o.Message, "Error using the record of pending EEPROM copies.");
            EXPECT_EQ(o.Detail, "File: " + c.file + ": " + c.reason);
            EXPECT_FALSE(o.DeviceTouched);
            EXPECT_EQ(Box.Written.empty(), !c.portOpened);
            EXPECT_EQ(ErasesSent(Box.Written), 0);
            EXPECT_EQ(Box.Box.Target.Eeprom, held);
            const auto failed = std::find(report.Lines.begin(), report.Lines.end(),
                                          "programming interrupted: " + o.Message);
            ASSERT_NE(failed, report.Lines.end());
            ASSERT_NE(failed + 1, report.Lines.end());
            EXPECT_EQ(*(failed + 1), o.Detail);
        }
}

// A restore that cannot finish (the box unplugged while it writes) leaves a device holding
// parts of the copy and parts of what it held: the copy stays marked, so that 'pending' and
// the next run still name it, and what the device held is saved.
TEST_F(EepromRuns, RestoreCutShortLeavesItsCopyMarked) {
    const std::vector<uint8_t> other = RandomBytes(Original.size(), 15);
    Box.Box.Target.Eeprom = other;
    const std::string copy = Temp.File("eeprom-ATmega644P-ttyUSB9-2.bin");
    WriteFile(copy, Original);
    struct UnplugReport : RecordingReport {
        bool Progress(int32_t position, int32_t total, ProgressPhase phase) override {
            if (phase == phProgramEeprom && ++Calls > 3) *Unplugged = true;
            return RecordingReport::Progress(position, total, phase);
        }
        bool* Unplugged = nullptr;
        int Calls = 0;
    } report;
    report.Unplugged = &Box.Unplugged;
    const RunOutcome o = RestoreEeprom("ttySIM0", copy, report, Box.Factory(), Temp.File("data"));
    Box.Unplugged = false;
    ASSERT_FALSE(o.Success);
    EXPECT_TRUE(o.DeviceTouched);
    EXPECT_NE(Box.Box.Target.Eeprom, Original);
    EXPECT_NE(Box.Box.Target.Eeprom, other);
    EXPECT_EQ(ReadFile(o.EepromSavedPath), other);
    EXPECT_EQ(PendingPaths(), std::vector<std::string>{copy});
    EXPECT_TRUE(Logged(report, "the eeprom is not fully restored; its copy is " + copy +
                                   ", what the device held before is in " + o.EepromSavedPath));
    RecordingReport again;
    ASSERT_TRUE(RestoreEeprom("ttySIM0", copy, again, Box.Factory(), Temp.File("data")).Success);
    EXPECT_EQ(Box.Box.Target.Eeprom, Original);
    EXPECT_TRUE(PendingPaths().empty());
}

// A restore whose writes do not take (a worn cell) says so as a chip that does not keep
// them, asked once more for its signature, not as a box or board gone.
TEST_F(EepromRuns, RestoreVerifyFailureNamesTheChipThatDidNotKeepIt) {
    BoxConfig worn;
    worn.StuckEeprom = {0x40};
    BoxFactory box(worn);
    box.Box.Target.Eeprom = RandomBytes(Original.size(), 16);
    const std::string copy = Temp.File("eeprom-ATmega644P-ttyUSB9-3.bin");
    WriteFile(copy, Original);
    RecordingReport report;
    const RunOutcome o = RestoreEeprom("ttySIM0", copy, report, box.Factory(), Temp.File("data"));
    ASSERT_FALSE(o.Success);
    EXPECT_EQ(o.Cause, FailureCause::VerifyMismatch);
    EXPECT_TRUE(Logged(report,
                       "the chip still answers on the ISP header: it did not keep what "
                       "was written"));
    EXPECT_EQ(PendingPaths(), std::vector<std::string>{copy});
}

// A fault inside the program (here the port's write throws, as a library or a full memory
// may) still ends each kind of run with its failure, its record and the truth about the
// device; an update cut there after its erase keeps the unit's copy marked.
TEST_F(EepromRuns, FaultInsideTheProgramEndsTheRunWithItsRecord) {
    const std::string copy = Temp.File("eeprom-ATmega644P-ttyUSB9-4.bin");
    WriteFile(copy, Original);
    const auto program = [&](RecordingReport& r) { return Program(r); };
    const auto restore = [&](RecordingReport& r) {
        return RestoreEeprom("ttySIM0", copy, r, Box.Factory(), Temp.File("data"));
    };
    const auto read = [&](RecordingReport& r) {
        DeviceReadRequest q;
        q.Operation = DeviceReadRequest::Read;
        q.PortName = "ttySIM0";
        q.DataFolder = Temp.File("data");
        return DeviceReadRun(q, r, Box.Factory()).Execute();
    };
    const struct {
        const char* name;
        std::function<RunOutcome(RecordingReport&)> run;
        const char* faultAfter;  // the fault comes 100 bytes after this line
        bool touched, pending;
    } cases[] = {
        {"program, reading the eeprom", program, "reading eeprom...", false, false},
        {"program, writing the eeprom back", program, "programming eeprom...", true, true},
        {"program, in the flash", program, "programming flash...", true, false},
        {"restore-eeprom, in the write", restore, "programming eeprom...", true, true},
        {"read, in the flash", read, "reading flash...", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(Temp.File("data"));
        Box.Box.Target.Eeprom = RandomBytes(Original.size(), 17);
        HookedReport report;
        report.When = c.faultAfter;
        report.Do = [&] { Box.FaultAfter = static_cast<long long>(Box.Written.size()) + 100; };
        const RunOutcome o = c.run(report);
        Box.FaultAfter = -1;
        EXPECT_EQ(o.Code, errInternal);
        EXPECT_EQ(o.Message, "Unknown Error");
        EXPECT_EQ(o.Detail,
                  "a fault inside the program: injected fault; keep this run's log for the "
                  "program's maintainers");
        EXPECT_EQ(o.DeviceTouched, c.touched);
        EXPECT_EQ(report.Ends, 1);
        EXPECT_EQ(report.FailedText, "Unknown Error");
        const auto record = ReadFile(Temp.File("data/runs.jsonl"));
        const auto j = nlohmann::json::parse(std::string(record.begin(), record.end()));
        EXPECT_EQ(j["code"], errInternal);
        EXPECT_EQ(j["device_touched"], c.touched);
        EXPECT_EQ(PendingPaths().size(), c.pending ? 1u : 0u);
    }
}

// The record cannot take the mark of the copy (a full disk, here the file size limit that
// lets the copy through and stops the record): the run ends before the erase. Windows has no
// file size limit to set.
#ifndef _WIN32
TEST_F(EepromRuns, MarkThatCannotBeWrittenStopsBeforeTheErase) {
    const std::string data = Temp.File("data");
    for (int i = 0; i < 40; ++i)  // a record larger than the limit, the copy smaller
        ASSERT_EQ(MarkPending(
                      data, {Temp.File("eeprom-ATmega2560-old-" + std::to_string(i)), "ATmega2560",
                             "ttyUSB" + std::to_string(i), std::chrono::system_clock::now()}),
                  0);
    ASSERT_GT(std::filesystem::file_size(PendingRecordPath(data)), 4096u);
    struct rlimit before {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    HookedReport report;
    report.When = "saving eeprom copy to ";
    report.Do = [&] {
        struct rlimit small = before;
        small.rlim_cur = 4096;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    };
    const RunOutcome o = Program(report);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(o.Code, errPendingRecord);
    EXPECT_EQ(o.Detail, "File: " + PendingRecordPath(data) + ": File too large");
    EXPECT_FALSE(o.DeviceTouched);
    EXPECT_EQ(ErasesSent(Box.Written), 0);
    EXPECT_EQ(ReadFile(o.EepromSavedPath), Original);
    EXPECT_EQ(Box.Box.Target.Eeprom, Original);
}
#endif

// With EESAVE programmed the erase keeps the EEPROM. What was read goes back as always (its
// blank blocks skipped: they are blank in the device too). Anything else is written wherever
// the device may hold other bytes, blank blocks included, and the whole EEPROM is read back.
TEST_F(EepromRuns, WithEesaveEveryOtherCopyIsWrittenAndVerifiedWhole) {
    constexpr uint8_t HighFuseEesave = 0xD1;  // ATmega644P: EESAVE is bit 3 of the high fuse
    const std::size_t size = Original.size(), blocks = size / Block;
    const std::vector<uint8_t> other = RandomBytes(size, 31);  // no blank block
    const std::string chosen = Temp.File("eeprom-ATmega644P-ttyS3-1.bin");
    WriteFile(chosen, Original);
    std::vector<std::string> originalBlocks, everyBlock, verify;
    for (std::size_t b = 0; b < blocks; ++b) {
        const bool blank = std::all_of(Original.begin() + static_cast<long>(b * Block),
                                       Original.begin() + static_cast<long>((b + 1) * Block),
                                       [](uint8_t v) { return v == 0xFF; });
        for (auto* list : {&originalBlocks, &everyBlock})
            if (!blank || list == &everyBlock) {
                list->push_back(At('w', b * Block));
                list->push_back(At('r', b * Block));  // its read-back
            }
        verify.push_back(At('r', b * Block));
    }
    const auto then = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };

    // What was read goes back.
    Box.Box.Target.FuseHi = HighFuseEesave;
    RecordingReport same;
    ASSERT_TRUE(Program(same).Success);
    EXPECT_EQ(Box.Box.Target.Eeprom, Original);
    EXPECT_EQ(EepromFramesAfterErase(Box.Written), originalBlocks);
    EXPECT_FALSE(Logged(same, "verifying eeprom..."));

    // A chosen copy over other data: the erase left the other data, so every block is written.
    Box.Box.Target.Eeprom = other;
    Box.Written.clear();
    RecordingReport report;
    const RunOutcome o = Program(report, "ttySIM0", chosen);
    ASSERT_TRUE(o.Success) << o.Message;
    EXPECT_EQ(Box.Box.Target.Eeprom, Original);
    EXPECT_EQ(EepromFramesAfterErase(Box.Written), then(everyBlock, verify));
    const auto written =
        std::find(report.Lines.begin(), report.Lines.end(), "programming eeprom...");
    ASSERT_NE(written, report.Lines.end());
    EXPECT_EQ(*(written + 1), "verifying eeprom...");
    EXPECT_EQ(*(written + 2), "programming flash...");
    EXPECT_NE(std::find(report.Phases.begin(), report.Phases.end(), phEepromVerified),
              report.Phases.end());

    // A pending restore into the half-restored device: the blocks blank in the copy and in
    // the device need no write whatever the erase did; the rest is written, all is verified.
    const RunOutcome failed = Interrupt(6);
    ASSERT_EQ(failed.Code, errSerialPort);
    ASSERT_EQ(Box.Box.Target.Eeprom, Original);  // EESAVE: the interrupted write-back lost nothing
    Box.Box.Target.Eeprom = FirstBlocks(Original, 4);
    Box.Written.clear();
    RecordingReport retry;
    const RunOutcome restored = Program(retry);
    ASSERT_TRUE(restored.Success) << restored.Message;
    EXPECT_TRUE(Logged(retry, "restoring eeprom from " + failed.EepromCopyPath +
                                  " left by an interrupted update"));
    EXPECT_EQ(Box.Box.Target.Eeprom, Original);
    EXPECT_EQ(EepromFramesAfterErase(Box.Written), then(originalBlocks, verify));
    EXPECT_TRUE(PendingPaths().empty());
}
