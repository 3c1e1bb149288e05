// The whole update sequence against the in-process box.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
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

    void Configure(const BoxConfig& config, std::size_t imageSize = 0x3000) {
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

// Bytes written before the first frame with this letter.
long long OffsetOfFirst(const std::vector<uint8_t>& written, char letter) {
    long long offset = 0;
    for (const TraceFrame& f : SplitTrace(written)) {
        if (f.Letter == letter) return offset;
        offset += 1 + static_cast<long long>(f.Tail.size());
    }
    return -1;
}

std::string LastLine(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadFile(path);
    std::string text(bytes.begin(), bytes.end());
    if (!text.empty()) text.pop_back();
    return text.substr(text.rfind('\n') + 1);
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

// Until the chip has answered, a failure may be the port's or the system's: what the system
// shows about the port follows the failure line. After that, a failure is the device's.
TEST_F(RunFixture, PortTroublesFollowTheFailureLineUntilTheChipAnswers) {
    const std::string held =
        "/dev/ttySIM0 is held by minicom (pid 100): end that program, then try again.";
    Factory->OpenErrno = EBUSY;
    Factory->Troubles = {held};
    Run();
    EXPECT_EQ(
        Report.Lines,
        (std::vector<std::string>{
            "opening serial port ttySIM0",
            "programming interrupted: Error opening serial port. Port already in use?", held}));
    EXPECT_EQ(Report.FailedText, "Error opening serial port. Port already in use?");

    BoxConfig late;
    late.DropAfter = 200;  // well after the signature
    Configure(late);
    Factory->Troubles = {held};
    const RunOutcome o = Run();
    EXPECT_EQ(o.Code, 4);
    EXPECT_EQ(o.Chip, "ATmega644P");
    EXPECT_TRUE(Factory->TroublesAsked.empty());
    EXPECT_EQ(std::count(Report.Lines.begin(), Report.Lines.end(), held), 0);
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
    EXPECT_EQ(*(at + 9),
              "the chip still answers on the ISP header: it did not keep what was written");
    EXPECT_EQ(*(at + 10),
              "the device needs another update; its eeprom copy is " + o.EepromCopyPath);
    EXPECT_EQ(ReadFile(o.EepromCopyPath), Eeprom);
    // After the last read-back only the signature, asked again; no 'D' after a failure.
    const std::string& letters = Factory->Box.CommandLetters;
    EXPECT_EQ(letters.substr(letters.size() - 3), "RII");
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

// Every number is checked before the port is opened: a bad one leaves the device as it was,
// whichever field holds it and whatever valid fields come before it.
TEST_F(RunFixture, BadNumbersFailBeforeThePortIsOpened) {
    const struct {
        const char* FuseLo;
        const char* FuseHi;
        const char* Speed;
        const char* Bootloader;
        int32_t Code;
        const char* Detail;
    } cases[] = {
        {"$G2", "", "", "", errBadNumber, "Lo fuse '$G2' is not a number from 0 to 255"},
        {"256", "", "", "", errBadNumber, "Lo fuse '256' is not a number from 0 to 255"},
        {"$E2", "-1", "", "", errBadNumber, "Hi fuse '-1' is not a number from 0 to 255"},
        {"$E2", "0xD9", "fast", "", errBadNumber, "speed 'fast' is not a number from 0 to 65535"},
        {"$E2", "", "65536", "", errBadNumber, "speed '65536' is not a number from 0 to 65535"},
        {"", "", "", "0", errImageTooLarge,
         "application length 0 leaves no room for the check value; it needs 3 bytes or more"},
        {"", "", "", "2", errImageTooLarge,
         "application length 2 leaves no room for the check value; it needs 3 bytes or more"},
        {"", "", "", "-$10", errImageTooLarge,
         "application length -$10 leaves no room for the check value; it needs 3 bytes or more"},
        {"", "", "", "$40001", errImageTooLarge,
         "application length $40001 is beyond the largest flash, 262144 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Detail);
        Configure({});
        Params.FuseLo = c.FuseLo;
        Params.FuseHi = c.FuseHi;
        Params.Speed = c.Speed;
        Params.Bootloader = c.Bootloader;
        const RunOutcome o = Run();
        EXPECT_EQ(o.Code, c.Code);
        EXPECT_EQ(Report.Lines, (std::vector<std::string>{
                                    "programming interrupted: " + GetErrorText(c.Code), c.Detail}));
        EXPECT_EQ(Report.FailedText, GetErrorText(c.Code));
        EXPECT_EQ(o.Detail, c.Detail);
        EXPECT_FALSE(o.DeviceTouched);
        EXPECT_TRUE(Factory->Written.empty());
        EXPECT_EQ(Factory->Box.Target.FuseLo, 0x62);
    }
}

// A fuse value that would shut serial programming: refused after identification, before
// any fuse frame or the erase; allowed explicitly, it is written like any other.
TEST_F(RunFixture, IspLockoutIsRefusedUnlessAllowed) {
    Params.FuseLo = "$E2";
    Params.FuseHi = "0xFF";  // SPIEN unprogrammed on the ATmega644P
    RunOutcome o = Run();
    EXPECT_EQ(o.Code, errIspLockout);
    EXPECT_FALSE(o.DeviceTouched);
    const auto n = Report.Lines.size();
    ASSERT_GE(n, 3u);
    EXPECT_EQ(Report.Lines[n - 3], "chip type is ATmega644P");
    EXPECT_EQ(Report.Lines[n - 2],
              "programming interrupted: Fuse value would lock out serial programming.");
    EXPECT_EQ(Report.Lines[n - 1].rfind("Hi fuse 0xFF would disable serial programming (SPIEN); "
                                        "to allow it, set Lockout_<k>=YES",
                                        0),
              0u)
        << Report.Lines[n - 1];
    EXPECT_EQ(Report.FailedText, o.Message);
    for (const TraceFrame& f : IspFrames())  // only Programming Enable of the 0xAC kind
        EXPECT_FALSE(f.Tail[0] == 0xAC && f.Tail[1] != 0x53) << "fuse or erase sent";
    EXPECT_EQ(Factory->Box.Target.FuseLo, 0x62);
    EXPECT_EQ(Factory->Box.Target.ChipErases, 0);

    Configure({});
    Params.FuseHi = "0xFF";
    Params.AllowIspLockout = true;
    o = Run();
    EXPECT_TRUE(o.Success) << o.Message;
    EXPECT_EQ(Factory->Box.Target.FuseHi, 0xFF);
}

TEST_F(RunFixture, ExtremeNumbersAreSentAsGiven) {
    Params.FuseLo = "0";
    Params.FuseHi = "$FF";
    Params.Speed = "65535";
    Params.Bootloader = "3";
    Params.AllowIspLockout = true;  // 0xFF leaves the ATmega644P's SPIEN unprogrammed
    const RunOutcome o = Run();
    ASSERT_TRUE(o.Success) << o.Message << " " << o.Detail;
    EXPECT_EQ(Factory->Box.Target.FuseLo, 0x00);
    EXPECT_EQ(Factory->Box.Target.FuseHi, 0xFF);
    EXPECT_EQ(o.ImageLength, 3);
}

// In the catalogue a Bootloader that is no number means the loaded size; the log says so.
TEST_F(RunFixture, BootloaderThatIsNoNumberUsesTheFileSizeAndSaysSo) {
    Params.Bootloader = "61440 bytes";
    const RunOutcome o = Run();
    ASSERT_TRUE(o.Success) << o.Message << " " << o.Detail;
    const auto at = std::find(Report.Lines.begin(), Report.Lines.end(), "flash file size is 12288");
    ASSERT_NE(at, Report.Lines.end());
    EXPECT_EQ(*(at + 1), "bootloader value '61440 bytes' is not a number; using the file size");
    EXPECT_EQ(o.ImageLength, 0x3000);
    EXPECT_EQ(Factory->Box.Target.Flash, Expected(0x3000));
}

TEST_F(RunFixture, FirmwareTooShortForTheCheckValueIsRefused) {
    for (const std::size_t size : {0, 1, 2}) {
        Configure({}, size);
        const RunOutcome o = Run();
        EXPECT_EQ(o.Code, errImageTooLarge) << size;
        EXPECT_EQ(o.Detail,
                  Params.FirmwarePath + (size == 0 ? std::string(" holds no data")
                                                   : " ends at byte " + std::to_string(size) +
                                                         ", too short to carry the "
                                                         "check value"));
        EXPECT_FALSE(o.DeviceTouched);
        EXPECT_EQ(Factory->Box.Target.ChipErases, 0);
    }
}

// A fuse write changes the device: a failure after it is no longer a failure of an untouched
// device, and the log names what was written.
TEST_F(RunFixture, FailureAfterAFuseWriteCountsAsTouched) {
    Params.FuseLo = "$E2";
    Params.FuseHi = "0xD9";
    ASSERT_TRUE(Run().Success);
    // Where the fuse frames end in a good run; the box goes silent a little after that.
    std::size_t afterFuses = 0, offset = 0;
    for (const TraceFrame& f : SplitTrace(Factory->Written)) {
        offset += 1 + f.Tail.size();
        if (f.Letter == 'I' && f.Tail[0] == 0xAC && (f.Tail[1] & 0xF0) == 0xA0) afterFuses = offset;
    }
    ASSERT_GT(afterFuses, 0u);
    BoxConfig c;
    c.DropAfter = static_cast<long long>(afterFuses) + 8;
    Configure(c);
    Params.FuseLo = "$E2";
    Params.FuseHi = "0xD9";
    const RunOutcome o = Run();
    EXPECT_EQ(o.Code, errNotConnected);
    EXPECT_TRUE(o.DeviceTouched);
    EXPECT_EQ(o.FusesWritten, "Lo=0xE2 Hi=0xD9");
    EXPECT_EQ(Factory->Box.Target.ChipErases, 0);
    const std::string boxGone =
        "the programmer box does not answer any more: check its cable and that it is powered";
    const std::vector<std::string> tail(Report.Lines.end() - 6, Report.Lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "reading eeprom...", "programming interrupted: Programmer not connected.",
                        "the box went quiet while reading the eeprom at address 0x0040", boxGone,
                        "fuses written before the failure: Lo=0xE2 Hi=0xD9",
                        "the device needs another update"}));
    const auto record = ReadFile(Temp.File("runs.jsonl"));
    const std::string last(record.begin(), record.end());
    EXPECT_NE(last.rfind("\"device_touched\":true"), std::string::npos) << last;
}

TEST_F(RunFixture, AbortAfterAFuseWriteCountsAsTouched) {
    Params.FuseEx = "253";
    Report.AbortOnPhase = phReadEeprom;
    const RunOutcome o = Run();
    EXPECT_EQ(o.Code, errAborted);
    EXPECT_TRUE(o.DeviceTouched);
    EXPECT_EQ(Factory->Box.Target.FuseEx, 0xFD);
    EXPECT_EQ(Report.Lines.back(), "the device needs another update");
    EXPECT_EQ(*(Report.Lines.end() - 2), "fuses written before the failure: Ex=0xFD");
}

TEST_F(RunFixture, MissingFirmwareStopsAtLoading) {
    Params.FirmwarePath = Temp.File("nope.hex");
    const RunOutcome o = Run();
    EXPECT_EQ(o.Code, errFileOpen);
    const std::vector<std::string> tail(Report.Lines.end() - 3, Report.Lines.end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{
                  "loading flash file...", "programming interrupted: Error opening firmware file.",
                  "File: " + Params.FirmwarePath + ": No such file or directory"}));
    EXPECT_EQ(Report.FailedText, "Error opening firmware file.");
}

TEST_F(RunFixture, HexFailureTextThenFileAndLineOnTheirOwnLine) {
    std::ofstream(Temp.File("fw.hex")) << ":0100000001FE\r:0100010002FC\r:0100020003FF\r";
    Params.FirmwarePath = Temp.File("fw.hex");
    const RunOutcome o = Run();
    EXPECT_EQ(o.Code, errHexChecksum);
    EXPECT_EQ(o.Message, "Error loading hex file. (Bad checksum)");
    const std::vector<std::string> tail(Report.Lines.end() - 2, Report.Lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "programming interrupted: Error loading hex file. (Bad checksum)",
                        "File: " + Params.FirmwarePath + ", line 3"}));
    EXPECT_EQ(Report.FailedText, "Error loading hex file. (Bad checksum)");
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

// The copy, the log and the record must have a place before anything is sent.
TEST_F(RunFixture, DataFolderThatCannotTakeTheRunFailsBeforeThePortIsOpened) {
    const struct {
        const char* Title;
        std::function<void(const std::string&)> Spoil;  // given the data folder
        int32_t Code;
        const char* Path;     // what the detail names, below the data folder
        const char* Unsaved;  // the run's own last line: what of its files it could not keep
    } cases[] = {
        {"a file instead of the data folder", [](const std::string& d) { std::ofstream(d) << "x"; },
         errBackupWrite, "/eeprom", "run record {}/runs.jsonl: Not a directory"},
        {"a file instead of the eeprom folder",
         [](const std::string& d) {
             std::filesystem::create_directories(d);
             std::ofstream(d + "/eeprom") << "x";
         },
         errBackupWrite, "/eeprom", nullptr},
        {"a file instead of the logs folder",
         [](const std::string& d) {
             std::filesystem::create_directories(d);
             std::ofstream(d + "/logs") << "x";
         },
         errDataFolder, "/logs", "run log folder {}/logs: Not a directory"},
        {"a folder instead of the record",
         [](const std::string& d) { std::filesystem::create_directories(d + "/runs.jsonl"); },
         errDataFolder, "/runs.jsonl", "run record {}/runs.jsonl: Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        Configure({});
        const std::string folder = Temp.File(std::string("data-") + std::to_string(&c - cases));
        c.Spoil(folder);
        ProgrammingRun run(Params, Report, Factory->Factory(), RunOptions{folder, ""});
        const RunOutcome o = run.Execute();
        EXPECT_EQ(o.Code, c.Code);
        EXPECT_EQ(Report.Lines.at(0), "programming interrupted: " + GetErrorText(c.Code));
        EXPECT_EQ(Report.Lines.at(1).rfind(folder + c.Path + ": ", 0), 0u) << Report.Lines.at(1);
        EXPECT_FALSE(o.DeviceTouched);
        EXPECT_TRUE(Factory->Written.empty());
        EXPECT_EQ(Factory->Box.Target.Eeprom, Eeprom);
        if (c.Unsaved) {
            std::string unsaved = std::string("could not write the ") + c.Unsaved;
            unsaved.replace(unsaved.find("{}"), 2, folder);
            EXPECT_EQ(Report.Lines.back(), unsaved);
            EXPECT_EQ(o.Warnings.back(), unsaved);
        } else {
            EXPECT_TRUE(o.Warnings.empty());
        }
    }
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
        EXPECT_EQ(o.Message, "EEPROM copy does not fit the connected chip.");
        EXPECT_NE(o.Detail.find(c.why), std::string::npos) << o.Detail;
        EXPECT_EQ(r.Lines.back(), o.Detail);
        EXPECT_FALSE(o.DeviceTouched);
        EXPECT_EQ(Factory->Box.Target.Eeprom, Eeprom);
    }
}

// A board taken off, a box gone quiet and a chip whose memory does not take the data read
// back alike (blank bytes, no answer); asking the chip for its signature once more tells them
// apart, in the log below the failure and its dump, and in the record's cause.
TEST_F(RunFixture, FailuresInProgrammingModeNameTheirCause) {
    ASSERT_TRUE(Run().Success);
    const long long flash = OffsetOfFirst(Factory->Written, 'W');
    const long long eeprom = OffsetOfFirst(Factory->Written, 'w');
    // The last thousand bytes a good run reads are read-backs of the flash.
    const long long lastReads = Factory->Box.BytesSent - 1000;
    ASSERT_GT(flash, 0);
    ASSERT_GT(eeprom, 0);
    const std::string lost =
        "no chip answers on the ISP header any more: the board was taken off or lost contact";
    const std::string gone =
        "the programmer box does not answer any more: check its cable and that it is powered";
    BoxConfig stuck, offInFlash, offInEeprom, quietInFlash;
    stuck.StuckFlash.insert(0x100);
    offInFlash.TargetOffAfter = flash + 500;
    offInEeprom.TargetOffAfter = eeprom + 10;
    quietInFlash.DropAfter = flash + 500;
    const struct {
        const char* Title;
        BoxConfig Config;
        int32_t Code;
        const char* Cause;
        std::vector<std::string> Lines;  // below the failure line and its dump
    } cases[] = {
        {"stuck flash",
         stuck,
         errFlashProgram,
         "verify mismatch",
         {"the chip still answers on the ISP header: it did not keep what was written"}},
        {"board taken off in the flash", offInFlash, errFlashProgram, "target lost", {lost}},
        {"board taken off in the eeprom", offInEeprom, errEepromProgram, "target lost", {lost}},
        {"box quiet in the flash",
         quietInFlash,
         errNotConnected,
         "box silent",
         {"the box went quiet while programming the flash at address 0x0100", gone}},
        {"port gone in the flash", {}, errSerialPort, "box silent", {gone}},
    };
    for (const auto& c : cases) {
        Configure(c.Config);
        if (c.Code == errSerialPort) Factory->FailReadAfter = lastReads;
        const RunOutcome o = Run();
        EXPECT_EQ(o.Code, c.Code) << c.Title;
        EXPECT_EQ(CauseText(o.Cause), std::string(c.Cause)) << c.Title;
        const auto& l = Report.Lines;
        auto at = std::find(l.begin(), l.end(), "programming interrupted: " + GetErrorText(c.Code));
        ASSERT_NE(at, l.end()) << c.Title;
        if (c.Code == errFlashProgram) {
            ASSERT_GE(l.end() - at, 9) << c.Title;
            EXPECT_EQ(*(at + 1), "*** data dump begin ***") << c.Title;
            at += 8;  // the dump's end
        }
        const std::vector<std::string> below(at + 1, at + 1 + static_cast<long>(c.Lines.size()));
        EXPECT_EQ(below, c.Lines) << c.Title;
        EXPECT_EQ(Report.FailedText, GetErrorText(c.Code)) << c.Title;
        EXPECT_EQ(o.Detail.substr(o.Detail.rfind('\n') + 1), c.Lines.back()) << c.Title;
        const std::string record = LastLine(Temp.File("runs.jsonl"));
        EXPECT_NE(record.find(std::string("\"cause\":\"") + c.Cause + "\""), std::string::npos)
            << record;
    }
}

// Before programming mode, or for any other failure, nothing is asked again and no cause is
// recorded.
TEST_F(RunFixture, OtherFailuresAskNothingAgain) {
    BoxConfig silent;
    silent.Silent = true;
    BoxConfig noTarget;
    noTarget.NoTarget = true;
    for (const BoxConfig& config : {silent, noTarget}) {
        Configure(config);
        const RunOutcome o = Run();
        EXPECT_EQ(o.Cause, FailureCause::None);
        EXPECT_EQ(
            std::count(Factory->Box.CommandLetters.begin(), Factory->Box.CommandLetters.end(), 'I'),
            config.NoTarget ? 64 : 0);
        EXPECT_NE(LastLine(Temp.File("runs.jsonl")).find("\"cause\":\"\""), std::string::npos);
    }
    Configure({});
    Report.AbortOnPhase = phProgramFlash;
    Report.AbortAfter = 3;
    const RunOutcome aborted = Run();
    EXPECT_EQ(aborted.Code, errAborted);
    EXPECT_EQ(aborted.Cause, FailureCause::None);
    EXPECT_EQ(Report.Lines.back().rfind("the device needs another update", 0), 0u);
}
