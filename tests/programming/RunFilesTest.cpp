// What outlives a run: file names no other run takes, record lines that are always whole
// and valid JSON, and files that cannot be written said rather than lost.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "link/ProgError.h"
#include "programming/PortFileName.h"
#include "programming/RunFiles.h"
#include "programming/UniqueFile.h"
#include "tests/support/LogStamps.h"
#include "tests/support/RecordingReport.h"
#include "tests/support/TempFolder.h"

namespace {
std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    EXPECT_EQ(at, text.size()) << "the file ends inside a line";
    return lines;
}

RunRecordInfo Info(const std::string& port = "ttyUSB0", const std::string& firmware = "/fw.hex") {
    return {"program", std::chrono::system_clock::now(), port, firmware, "AB1+5"};
}
}  // namespace

TEST(RecordLine, IsValidJsonWhateverTheTexts) {
    RunOutcome o;
    o.Chip = "ATmega644P";
    o.FirmwareId = std::string("AB1x5 \"v2\"\\\x01\xE4\xFF", 14);  // control and stray bytes
    const std::string cp1252Path =
        "/x/Gr\xFC\xDF"
        "e.hex";  // a Windows-1252 file name
    o.Message = "Error opening firmware file.";
    o.Detail = "File: " + cp1252Path + ": No such file or directory";
    o.EepromCopyPath = "/data/eeprom-\xC3\xA4.bin";  // valid UTF-8 stays as it is
    const std::string line = RunRecordLine(Info("COM\xE4", cp1252Path), o);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    const auto j = nlohmann::json::parse(line);
    EXPECT_EQ(j["operation"], "program");
    EXPECT_EQ(j["firmware_id_pattern"], "AB1+5");
    EXPECT_EQ(j["firmware_id"], "AB1x5 \"v2\"\\\x01\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(j["firmware"],
              "/x/Gr\xEF\xBF\xBD\xEF\xBF\xBD"
              "e.hex");
    EXPECT_EQ(j["detail"],
              "File: /x/Gr\xEF\xBF\xBD\xEF\xBF\xBD"
              "e.hex: No such file or directory");
    EXPECT_EQ(j["eeprom_copy"], "/data/eeprom-\xC3\xA4.bin");
    EXPECT_EQ(j["code"], -1);
    EXPECT_EQ(j["device_touched"], false);
}

TEST(UniqueFile, RunsStartedTogetherNeverShareAName) {
    TempFolder temp;
    constexpr int Threads = 8, PerThread = 40;
    std::vector<std::vector<std::string>> made(Threads);
    std::vector<std::thread> runs;
    for (int t = 0; t < Threads; ++t)
        runs.emplace_back([&, t] {
            for (int i = 0; i < PerThread; ++i) {
                const std::string content = std::to_string(t) + ":" + std::to_string(i);
                const FileResult r =
                    SaveUniqueFile(temp.File("copy"), ".bin", content.data(), content.size());
                EXPECT_EQ(r.Error, 0);
                made[t].push_back(r.Path);
            }
        });
    for (auto& r : runs) r.join();
    std::set<std::string> all;
    for (int t = 0; t < Threads; ++t)
        for (int i = 0; i < PerThread; ++i) {
            all.insert(made[t][i]);
            EXPECT_EQ(ReadText(made[t][i]), std::to_string(t) + ":" + std::to_string(i));
        }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(Threads * PerThread));
    // Nothing half-made is left behind: only the files themselves.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp.Path),
                            std::filesystem::directory_iterator()),
              Threads * PerThread);
}

TEST(PortFileName, DifferentPortsNeverShareAName) {
#ifdef _WIN32
    // Every name of a COM port opens \\.\COMn, which names the file.
    const std::pair<const char*, const char*> differentPorts[] = {{"COM1", "COM10"},
                                                                  {"COM3", "COM33"}};
    for (const auto& [a, b] : differentPorts)
        EXPECT_NE(PortFileName(a), PortFileName(b)) << a << " and " << b;
    for (const char* port : {"COM12", "com12", "\\\\.\\COM12"})
        EXPECT_EQ(PortFileName(port), "COM12") << port;
#else
    const std::pair<const char*, const char*> differentPorts[] = {
        {"/dev/tty.A", "/dev/tty_A"},
        {"/dev/pts/3", "/tmp/pts/3"},
        {"/dev/pts/3", "pts/3"},  // relative to the current folder
        {"/dev/serial/by-id/a+b", "/dev/serial/by-id/a/b"},
        {"/dev/a%2Fb", "/dev/a/b"},
        {"/dev/ttyS0", "/dev/ttys0"},
        {"/dev/tty S0", "/dev/tty%20S0"},
    };
    for (const auto& [a, b] : differentPorts)
        EXPECT_NE(PortFileName(a), PortFileName(b)) << a << " and " << b;
    const std::pair<const char*, const char*> samePort[] = {
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"/dev/./ttyS0", "/dev/ttyS0"},
    };
    for (const auto& [a, b] : samePort) EXPECT_EQ(PortFileName(a), PortFileName(b)) << a;
    EXPECT_EQ(PortFileName("/dev/ttyUSB0"), "ttyUSB0");
    EXPECT_EQ(PortFileName("/dev/serial/by-id/usb-FTDI_X-if00"), "serial+by-id+usb-FTDI_X-if00");
    EXPECT_EQ(PortFileName("/tmp/box link"), "+tmp+box%20link");
#endif
    for (const char* port : {"COM\xE4", "/dev/\\\\.\\COM10", "a:b*c?d\"e<f>g|h"})
        for (const char c : PortFileName(port))
            EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) ||
                        std::string("._-+%").find(c) != std::string::npos)
                << port;
}

TEST(RunFiles, LogAndRecordNameEachOther) {
    TempFolder temp;
    RecordingReport report;
    std::vector<std::string> lines{"opening serial port ttyUSB0", "done without any problem."};
    RunOutcome o;
    o.Success = true;
    KeepRunFiles(temp.Path, Info(), lines, o, report);
    EXPECT_TRUE(o.Warnings.empty());
    EXPECT_TRUE(report.Lines.empty());
    EXPECT_EQ(ReadText(o.LogPath), "opening serial port ttyUSB0\ndone without any problem.\n");
    const auto records = Lines(ReadText(temp.File("runs.jsonl")));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(nlohmann::json::parse(records[0])["log"], o.LogPath);
}

TEST(RunFiles, WhatCannotBeWrittenIsSaidWithTheOsReason) {
    const struct {
        const char* blocker;  // a file where a folder must go, or a folder where a file must
        bool asFolder;
        const char* problem;
    } cases[] = {
        {"logs", false, "could not write the run log folder {}/logs: Not a directory"},
        {"runs.jsonl", true, "could not write the run record {}/runs.jsonl: Is a directory"},
    };
    for (const auto& c : cases) {
        TempFolder temp;
        if (c.asFolder)
            std::filesystem::create_directory(temp.File(c.blocker));
        else
            std::ofstream(temp.File(c.blocker)) << "x";
        std::string problem = c.problem;
        problem.replace(problem.find("{}"), 2, temp.Path);
        RecordingReport report;
        std::vector<std::string> lines{"programming interrupted: Aborted."};
        RunOutcome o;
        o.Code = errAborted;
        o.Message = "Aborted.";
        KeepRunFiles(temp.Path, Info(), lines, o, report);
        EXPECT_EQ(report.Lines, std::vector<std::string>{problem});
        EXPECT_EQ(o.Warnings, std::vector<std::string>{problem});
        EXPECT_EQ(Unstamped(lines.back()), problem);
        EXPECT_EQ(o.Code, errAborted);  // the outcome stays what it was
        EXPECT_FALSE(o.Success);
        if (!o.LogPath.empty()) {  // the record failed: the log file ends with that
            const std::string first = "programming interrupted: Aborted.\n";
            const std::string text = ReadText(o.LogPath);
            EXPECT_EQ(text.substr(0, first.size()), first);
            EXPECT_EQ(WithoutStamps(text.substr(std::min(first.size(), text.size()))),
                      problem + "\n");
        }
    }
}

// An update that ended before its run: a record line with its outcome and code, no log.
TEST(RunFiles, RecordAloneForAnUpdateWithoutARun) {
    TempFolder temp;
    RecordingReport report;
    RunOutcome o;
    o.Code = errProgMode;
    o.Message = GetErrorText(errProgMode);
    KeepRunRecord(temp.Path, Info(), o, report);
    EXPECT_TRUE(report.Lines.empty());
    EXPECT_FALSE(std::filesystem::exists(temp.File("logs")));
    const auto records = Lines(ReadText(temp.File("runs.jsonl")));
    ASSERT_EQ(records.size(), 1u);
    const auto j = nlohmann::json::parse(records[0]);
    EXPECT_EQ(j["code"], errProgMode);
    EXPECT_EQ(j["outcome"], "Unable to enter programming mode.");
    EXPECT_EQ(j["log"], "");

    std::filesystem::remove(temp.File("runs.jsonl"));
    std::filesystem::create_directory(temp.File("runs.jsonl"));
    KeepRunRecord(temp.Path, Info(), o, report);
    const std::string problem =
        "could not write the run record " + temp.File("runs.jsonl") + ": Is a directory";
    EXPECT_EQ(report.Lines, std::vector<std::string>{problem});
    EXPECT_EQ(o.Warnings, std::vector<std::string>{problem});
}

#ifndef _WIN32
TEST(RunFiles, RecordLinesOfParallelProcessesStayWhole) {
    TempFolder temp;
    constexpr int Processes = 6, PerProcess = 60;
    RunOutcome o;
    // Longer than a pipe's atomic write, so only the lock keeps lines whole.
    o.Message = std::string(20000, 'm');
    std::vector<pid_t> children;
    for (int p = 0; p < Processes; ++p) {
        const pid_t pid = fork();
        if (pid == 0) {
            RunOutcome mine = o;
            mine.Chip = "chip" + std::to_string(p);
            int failures = 0;
            for (int i = 0; i < PerProcess; ++i)
                failures += AppendRunRecord(temp.File("runs.jsonl"), RunRecordLine(Info(), mine));
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto records = Lines(ReadText(temp.File("runs.jsonl")));
    ASSERT_EQ(records.size(), static_cast<std::size_t>(Processes * PerProcess));
    std::map<std::string, int> perChip;
    for (const std::string& r : records) ++perChip[nlohmann::json::parse(r)["chip"]];
    for (const auto& [chip, count] : perChip) EXPECT_EQ(count, PerProcess) << chip;
}
#endif
