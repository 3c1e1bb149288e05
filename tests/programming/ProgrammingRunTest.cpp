// The whole update sequence against the in-process box.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>

#include "image/CheckValue.h"
#include "programming/EepromCopy.h"
#include "programming/EepromRestore.h"
#include "programming/ProgrammingRun.h"
#include "tests/support/BoxFactory.h"
#include "tests/support/RecordingReport.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestData.h"
#include "tests/support/Trace.h"

namespace {

struct RunFixture : ::testing::Test {
    void SetUp() override { Configure({}); }

    void Configure(BoxConfig config, std::size_t imageSize = 0x3000) {
        Factory = std::make_unique<BoxFactory>(config);
        Eeprom = RandomBytes(Factory->Box.Target.Eeprom.size(), 1);
        std::fill(Eeprom.begin() + 32, Eeprom.begin() + 64, 0xFF);
        Factory->Box.Target.Eeprom = Eeprom;
        Factory->Box.Target.Flash.assign(Factory->Box.Target.Flash.size(), 0x00);  // old firmware
        Image = RandomBytes(imageSize, 2);
        WriteFile("fw.bin", Image);
        Params = RunParams{};
        Params.FirmwarePath = Temp.File("fw.bin");
        Params.PortName = "ttySIM0";
    }

    void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(Temp.File(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

    RunOutcome Run() {
        ProgrammingRun run(Params, Report, Factory->Factory(), RunOptions{Temp.Path, "AB1+5"});
        return run.Execute();
    }

    // The image as the device must hold it: file bytes, 0xFF filler, stamped check value.
    std::vector<uint8_t> Expected(uint32_t length) const {
        std::vector<uint8_t> flash(0x40000, 0xFF);
        std::copy(Image.begin(), Image.end(), flash.begin());
        StampCheckValue(flash.data(), length);
        flash.resize(Factory->Box.Target.Flash.size());
        return flash;
    }

    std::vector<TraceFrame> IspFrames() const {
        std::vector<TraceFrame> isp;
        for (auto& f : SplitTrace(Factory->Written))
            if (f.Letter == 'I') isp.push_back(f);
        return isp;
    }

    TempFolder Temp;
    std::unique_ptr<BoxFactory> Factory;
    std::vector<uint8_t> Eeprom, Image;
    RunParams Params;
    RecordingReport Report;
};

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
}  // namespace

TEST_F(RunFixture, SuccessfulRunLogsEveryStepAndKeepsTheEeprom) {
    Params.FuseLo = "$E2";
    Params.FuseHi = "0x99";
    Params.FuseEx = "253";
    Params.Speed = "20";
    const RunOutcome o = Run();
    ASSERT_TRUE(o.Success) << o.Message;
    const std::vector<std::string> log = {
        "opening serial port ttySIM0",
        "reseting programmer",
        "setting port time to 100",
        "enabling programming mode",
        "reading chip type...",
        "chip type is ATmega644P",
        "loading flash file...",
        "flash file size is 12288",
        "setting port time to 100",
        "programming Lo fuse $E2",
        "programming Hi fuse 0x99",
        "programming Ex fuse 253",
        "setting port time to 20",
        "reading eeprom...",
        "saving eeprom copy to " + o.EepromCopyPath,
        "erasing chip",
        "programming eeprom...",
        "programming flash...",
        "disabling programming mode",
        "done without any problem.",
    };
    EXPECT_EQ(Report.Lines, log);
    EXPECT_EQ(Report.Chip, "ATmega644P");
    EXPECT_EQ(Factory->Box.Target.Flash, Expected(0x3000));
    EXPECT_EQ(Factory->Box.Target.Eeprom, Eeprom);
    EXPECT_EQ(Factory->Box.Target.FuseLo, 0xE2);
    EXPECT_EQ(Factory->Box.Target.FuseHi, 0x99);
    EXPECT_EQ(Factory->Box.Target.FuseEx, 0xFD);
    EXPECT_EQ(ReadFile(o.EepromCopyPath), Eeprom);
    EXPECT_EQ(o.EepromCopyPath.rfind(Temp.Path + "/eeprom/eeprom-ATmega644P-ttySIM0-", 0), 0u);
    EXPECT_EQ(Factory->Box.CommandLetters.back(), 'D');
    EXPECT_EQ(Factory->LinksMade, 1);
    EXPECT_EQ(Report.Ends, 1);
}

TEST_F(RunFixture, RunLeavesALogFileAndARecordLine) {
    const std::string id = "AB1x5 build 7";  // what the item's pattern AB1+5 finds
    std::copy(id.c_str(), id.c_str() + id.size() + 1, Image.begin() + 0x100);
    WriteFile("fw.bin", Image);
    const RunOutcome o = Run();
    ASSERT_TRUE(o.Success);
    std::string logText;
    for (const auto& l : Report.Lines) logText += l + "\n";
    const auto written = ReadFile(o.LogPath);
    EXPECT_EQ(std::string(written.begin(), written.end()), logText);
    const auto record = ReadFile(Temp.File("runs.jsonl"));
    const std::string line(record.begin(), record.end());
    EXPECT_NE(line.find("\"chip\":\"ATmega644P\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"firmware_id\":\"AB1x5 build 7\",\"firmware_id_pattern\":\"AB1+5\""),
              std::string::npos)
        << line;
    EXPECT_NE(line.find("\"image_length\":12288"), std::string::npos) << line;
    EXPECT_NE(line.find("\"outcome\":\"done\""), std::string::npos) << line;
    EXPECT_EQ(line.back(), '\n');
}

TEST_F(RunFixture, EmptyFusesAndSpeedAreSkipped) {
    ASSERT_TRUE(Run().Success);
    const auto& l = Report.Lines;
    const auto second = std::find(l.begin() + 3, l.end(), "setting port time to 100");
    ASSERT_NE(second, l.end());
    EXPECT_EQ(*(second + 1), "reading eeprom...");
    EXPECT_EQ(IspFrames().size(), 1u + 2 + 1);  // enable, signature x2, erase
}

TEST_F(RunFixture, OnlyTheHighFuseIsWritten) {
    Params.FuseHi = "$D9";
    ASSERT_TRUE(Run().Success);
    EXPECT_EQ(std::count(Report.Lines.begin(), Report.Lines.end(), "programming Hi fuse $D9"), 1);
    long fuseFrames = 0;
    for (const auto& f : IspFrames())
        if (f.Tail[0] == 0xAC && (f.Tail[1] & 0xF0) == 0xA0) {
            EXPECT_EQ(f.Tail, (std::vector<uint8_t>{0xAC, 0xA8, 0x00, 0xD9, 10}));
            ++fuseFrames;
        }
    EXPECT_EQ(fuseFrames, 1);
}

TEST_F(RunFixture, FuseNotationsSendTheSameByte) {
    for (const char* text : {"$E2", "0xE2", "226"}) {
        Configure({});
        Params.FuseLo = text;
        ASSERT_TRUE(Run().Success) << text;
        EXPECT_EQ(Factory->Box.Target.FuseLo, 0xE2) << text;
        EXPECT_EQ(Report.Lines[9], std::string("programming Lo fuse ") + text);
    }
}

TEST_F(RunFixture, BootloaderLengthPlacesTheCheckValue) {
    Params.Bootloader = "$F000";
    ASSERT_TRUE(Run().Success);
    EXPECT_EQ(Factory->Box.Target.Flash, Expected(0xF000));
    EXPECT_NE(Factory->Box.Target.Flash[0xEFFE] & Factory->Box.Target.Flash[0xEFFF], 0xFF);
}

TEST_F(RunFixture, FailureAtOpeningLeavesTwoLines) {
    Factory->OpenErrno = EBUSY;
    const RunOutcome o = Run();
    EXPECT_FALSE(o.Success);
    EXPECT_EQ(Report.Lines,
              (std::vector<std::string>{
                  "opening serial port ttySIM0",
                  "programming interrupted: Error opening serial port. Port already in use?"}));
    EXPECT_EQ(Report.FailedText, "Error opening serial port. Port already in use?");
    EXPECT_FALSE(o.DeviceTouched);
}

TEST_F(RunFixture, FlashFailureDumpsRightAfterTheInterruptedLine) {
    BoxConfig c;
    c.StuckFlash.insert(0x100);
    Configure(c);
    const RunOutcome o = Run();
    EXPECT_EQ(o.Code, 11);
    EXPECT_TRUE(o.DeviceTouched);
    const auto& l = Report.Lines;
    const auto at = std::find(l.begin(), l.end(), "programming interrupted: Flash programm error!");
    ASSERT_NE(at, l.end());
    ASSERT_GE(l.end() - at, 10);
    EXPECT_EQ(*(at + 1), "*** data dump begin ***");
    EXPECT_EQ(*(at + 2), "Written at Address 0x00000100");
    EXPECT_EQ(*(at + 8), "*** data dump end ***");
    EXPECT_EQ(*(at + 9), "the device needs another update; its eeprom copy is " + o.EepromCopyPath);
    EXPECT_EQ(ReadFile(o.EepromCopyPath), Eeprom);
    EXPECT_EQ(Factory->Box.CommandLetters.back(), 'R');  // no 'D' after a failure
}

TEST_F(RunFixture, EepromFailureHasNoDump) {
    BoxConfig c;
    c.StuckEeprom.insert(0x0);
    Configure(c);
    const RunOutcome o = Run();
    EXPECT_EQ(o.Code, 13);
    EXPECT_EQ(std::count(Report.Lines.begin(), Report.Lines.end(), "*** data dump begin ***"), 0);
    EXPECT_EQ(Report.Lines.back(),
              "the device needs another update; its eeprom copy is " + o.EepromCopyPath);
}

TEST_F(RunFixture, AbortDuringEepromReadErasesNothing) {
    Report.AbortOnPhase = phReadEeprom;
    Report.AbortAfter = 5;
    const RunOutcome o = Run();
    EXPECT_EQ(o.Code, 14);
    EXPECT_EQ(Report.Lines.back(), "programming interrupted: Aborted.");
    EXPECT_EQ(Report.FailedText, "Aborted.");
    EXPECT_FALSE(o.DeviceTouched);
    EXPECT_EQ(Factory->Box.Target.ChipErases, 0);
}

TEST_F(RunFixture, BadNumbersFailBeforeAnythingIsErased) {
    const struct {
        const char* fuseLo;
        const char* speed;
        const char* lastStep;
    } cases[] = {{"$G2", "", "programming Lo fuse $G2"}, {"", "fast", "setting port time to fast"}};
    for (const auto& c : cases) {
        Configure({});
        Params.FuseLo = c.fuseLo;
        Params.Speed = c.speed;
        const RunOutcome o = Run();
        EXPECT_EQ(o.Code, errBadNumber);
        const auto n = Report.Lines.size();
        ASSERT_GE(n, 2u);
        EXPECT_EQ(Report.Lines[n - 2], c.lastStep);
        EXPECT_EQ(Report.Lines[n - 1].rfind("programming interrupted: Invalid number. ('", 0), 0u);
        EXPECT_NE(Report.FailedText.find(std::string("'") + c.fuseLo + c.speed + "'"),
                  std::string::npos);
        EXPECT_FALSE(o.DeviceTouched);
        EXPECT_EQ(Factory->Box.Target.ChipErases, 0);
        EXPECT_EQ(Factory->Box.Target.FuseLo, 0x62);
    }
}

TEST_F(RunFixture, MissingFirmwareStopsAtLoading) {
    Params.FirmwarePath = Temp.File("nope.hex");
    const RunOutcome o = Run();
    EXPECT_EQ(o.Code, errFileOpen);
    EXPECT_EQ(Report.Lines[Report.Lines.size() - 2], "loading flash file...");
    EXPECT_NE(Report.Lines.back().find(Params.FirmwarePath), std::string::npos);
}

TEST_F(RunFixture, ImagesBeyondTheChipFailBeforeTheErase) {
    BoxConfig small;
    small.Chip = "ATmega48";  // 4 KB flash
    Configure(small, 0x1001);
    RunOutcome o = Run();
    EXPECT_EQ(o.Code, errImageTooLarge);
    EXPECT_EQ(Factory->Box.Target.ChipErases, 0);

    Configure(small, 0x800);
    Params.Bootloader = "$2000";
    o = Run();
    EXPECT_EQ(o.Code, errImageTooLarge);
    EXPECT_EQ(Factory->Box.Target.ChipErases, 0);
}

TEST_F(RunFixture, UnwritableDataFolderStopsBeforeTheErase) {
    WriteFile("blocker", {1});
    ProgrammingRun run(Params, Report, Factory->Factory(), RunOptions{Temp.File("blocker"), ""});
    const RunOutcome o = run.Execute();
    EXPECT_EQ(o.Code, errBackupWrite);
    EXPECT_NE(o.Message.find(Temp.File("blocker") + "/eeprom: Not a directory"), std::string::npos)
        << o.Message;
    EXPECT_FALSE(o.DeviceTouched);
    EXPECT_EQ(Factory->Box.Target.ChipErases, 0);
    EXPECT_EQ(Factory->Box.Target.Eeprom, Eeprom);
    // Neither the log nor the record can go there: the log's last lines say so.
    const auto n = Report.Lines.size();
    ASSERT_GE(n, 2u);
    EXPECT_EQ(Report.Lines[n - 2], "could not write the run log folder " + Temp.File("blocker") +
                                       "/logs: Not a directory");
    EXPECT_EQ(Report.Lines[n - 1], "could not write the run record " + Temp.File("blocker") +
                                       "/runs.jsonl: Not a directory");
    EXPECT_EQ(o.Warnings.size(), 2u);
}

TEST_F(RunFixture, SecondRunReplacesTheLog) {
    Factory->OpenErrno = ENOENT;
    Run();
    Factory->OpenErrno = 0;
    ASSERT_TRUE(Run().Success);
    EXPECT_EQ(Report.Lines.front(), "opening serial port ttySIM0");
    EXPECT_EQ(Report.Lines.back(), "done without any problem.");
    EXPECT_EQ(Report.Ends, 2);
}

TEST_F(RunFixture, EepromCopyRestoresAfterAFailedUpdate) {
    BoxConfig c;
    c.StuckFlash.insert(0x0);
    Configure(c);
    const RunOutcome failed = Run();
    ASSERT_TRUE(failed.DeviceTouched);
    Factory->Box.Target.ChipErases = 0;
    Factory->Box.Target.ChipErase();  // as after the erase, before the EEPROM came back
    RecordingReport restoreReport;
    const RunOutcome o = RestoreEeprom("ttySIM0", failed.EepromCopyPath, restoreReport,
                                       Factory->Factory(), Temp.Path);
    ASSERT_TRUE(o.Success) << o.Message;
    EXPECT_EQ(Factory->Box.Target.Eeprom, Eeprom);
    EXPECT_EQ(restoreReport.Lines.back(), "done without any problem.");
}

TEST_F(RunFixture, EepromCopyOfAnotherChipOrSizeIsRefused) {
    const struct {
        const char* name;
        std::size_t size;
        const char* why;
    } cases[] = {
        {"eeprom-ATmega2560-ttyS0-1.bin", 0x800, "from an ATmega2560"},
        {"eeprom-ATmega644P-ttyS0-1.bin", 0x1000, "holds 4096 bytes"},
        {"saved.bin", 100, "holds 100 bytes"},
    };
    for (const auto& c : cases) {
        WriteFile(c.name, std::vector<uint8_t>(c.size, 0x11));
        RecordingReport r;
        const RunOutcome o =
            RestoreEeprom("ttySIM0", Temp.File(c.name), r, Factory->Factory(), Temp.Path);
        EXPECT_EQ(o.Code, errBackupMismatch) << c.name;
        EXPECT_NE(o.Message.find(c.why), std::string::npos) << o.Message;
        EXPECT_FALSE(o.DeviceTouched);
        EXPECT_EQ(Factory->Box.Target.Eeprom, Eeprom);
    }
}
