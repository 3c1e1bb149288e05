// The EEPROM across runs against the in-process box: restore-eeprom over other data, the
// retry after an interrupted write-back, the question where nobody can tell, and runs
// started together that must never share a file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "programming/EepromCopy.h"
#include "programming/EepromRestore.h"
#include "programming/PendingCopies.h"
#include "programming/ProgrammingRun.h"
#include "tests/support/BoxFactory.h"
#include "tests/support/RecordingReport.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestData.h"

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
    EXPECT_EQ(std::string(log.begin(), log.end()), logText);
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
    ASSERT_EQ(truncate(huge.c_str(), 3LL << 30), 0);  // sparse: 3 GB that take no room
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
            EXPECT_EQ(std::string(log.begin(), log.end()), logText);
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
