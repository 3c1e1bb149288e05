// The whole update sequence against the in-process box.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>

#include "image/CheckValue.h"
#include "programming/EepromCopy.h"
#include "programming/EepromRestore.h"
#include "programming/ProgrammingRun.h"
#include "tests/support/BoxFactory.h"
#include "tests/support/LogStamps.h"
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
        // A firmware carries the identifier of its item's pattern (AB1+5, as Run gives it).
        if (imageSize >= 0x100)
            std::copy(ItemId.c_str(), ItemId.c_str() + ItemId.size() + 1, Image.begin() + 0x10);
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

    const std::string ItemId = "AB1x5 main";
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
    EXPECT_EQ(WithoutStamps(std::string(written.begin(), written.end())), logText);
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
        {"", "", "", "0", errImageEmpty,
         "application length 0 leaves no room for the check value; it needs 3 bytes or more"},
        {"", "", "", "2", errImageEmpty,
         "application length 2 leaves no room for the check value; it needs 3 bytes or more"},
        {"", "", "", "-$10", errImageEmpty,
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

// Nothing to program, or no room for the check value: a code of its own, and the record
// keeps the size found.
TEST_F(RunFixture, FirmwareEmptyOrTooShortForTheCheckValueIsRefused) {
    const struct {
        std::size_t Size;
        const char* Bootloader;
        std::string Detail;
    } cases[] = {
        {0, "", " holds no data"},
        {0, "$1000", " holds no data"},  // a length to cover does not make it a firmware
        {1, "", " ends at byte 1, too short to carry the check value"},
        {2, "", " ends at byte 2, too short to carry the check value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Size << " " << c.Bootloader);
        Configure({}, c.Size);
        Params.Bootloader = c.Bootloader;
        const RunOutcome o = Run();
        EXPECT_EQ(o.Code, errImageEmpty);
        EXPECT_EQ(o.Message, "Firmware image is empty or too short.");
        EXPECT_EQ(o.Detail, Params.FirmwarePath + c.Detail);
        EXPECT_EQ(o.ImageLength, static_cast<int32_t>(c.Size));
        EXPECT_FALSE(o.DeviceTouched);
        EXPECT_EQ(Factory->Box.Target.ChipErases, 0);
        const std::vector<std::string> tail(Report.Lines.end() - 3, Report.Lines.end());
        EXPECT_EQ(tail,
                  (std::vector<std::string>{
                      "flash file size is " + std::to_string(c.Size),
                      "programming interrupted: Firmware image is empty or too short.", o.Detail}));
    }
}

// A firmware that does not carry the item's identifier may be the wrong file: it is
// programmed as the catalogue says, and the log and the record say what it lacks.
TEST_F(RunFixture, FirmwareWithoutTheItemsIdentifierIsProgrammedAndSaysSo) {
    const std::string id = "AB1x5 build 7";
    const struct {
        const char* Pattern;
        bool Carries;  // the image holds the identifier
        bool Missing;
    } cases[] = {
        {"AB1+5", false, true},
        {"AB1+5", true, false},
        {"AB2+5", true, true},
        {"", false, false},  // an item without a pattern: nothing to look for
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Pattern << " " << c.Carries);
        std::filesystem::remove(Temp.File("runs.jsonl"));
        Configure({});
        Image = RandomBytes(Image.size(), 3);
        if (c.Carries) std::copy(id.c_str(), id.c_str() + id.size() + 1, Image.begin() + 0x100);
        WriteFile("fw.bin", Image);
        ProgrammingRun run(Params, Report, Factory->Factory(), RunOptions{Temp.Path, c.Pattern});
        const RunOutcome o = run.Execute();
        ASSERT_TRUE(o.Success) << o.Message;
        EXPECT_EQ(o.FirmwareIdMissing, c.Missing);
        const auto size =
            std::find(Report.Lines.begin(), Report.Lines.end(), "flash file size is 12288");
        ASSERT_NE(size, Report.Lines.end());
        const std::string said =
            "the firmware holds no identifier matching " + std::string(c.Pattern);
        if (c.Missing) {
            EXPECT_EQ(*(size + 1), said);
        } else {
            EXPECT_EQ(std::find(Report.Lines.begin(), Report.Lines.end(), said),
                      Report.Lines.end());
        }
        const auto record = ReadFile(Temp.File("runs.jsonl"));
        const std::string line(record.begin(), record.end());
        EXPECT_NE(
            line.find(std::string("\"firmware_id_missing\":") + (c.Missing ? "true" : "false")),
            std::string::npos)
            << line;
        EXPECT_EQ(Factory->Box.Target.Flash, Expected(0x3000));
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
        if (f.Letter != 'I') continue;
        const bool fuseWrite = f.Tail[0] == 0xAC && (f.Tail[1] & 0xF0) == 0xA0;
        const bool fuseRead = f.Tail[0] == 0x50 || f.Tail[0] == 0x58;  // each write's read-back
        if (fuseWrite || fuseRead) afterFuses = offset;
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
    // The record tells how large the refused image was.
    EXPECT_EQ(o.ImageLength, 0x1001);
    auto record = ReadFile(Temp.File("runs.jsonl"));
    std::string line(record.begin(), record.end());
    EXPECT_NE(line.rfind("\"image_length\":4097,"), std::string::npos) << line;

    Configure(small, 0x800);
    Params.Bootloader = "$2000";
    o = Run();
    EXPECT_EQ(o.Code, errImageTooLarge);
    EXPECT_EQ(Factory->Box.Target.ChipErases, 0);
    EXPECT_EQ(o.ImageLength, 0x2000);
    record = ReadFile(Temp.File("runs.jsonl"));
    line.assign(record.begin(), record.end());
    EXPECT_NE(line.rfind("\"image_length\":8192,"), std::string::npos) << line;
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
            // The ledger beside the record may say its own line after it.
            EXPECT_NE(std::find(Report.Lines.begin(), Report.Lines.end(), unsaved),
                      Report.Lines.end());
            EXPECT_NE(std::find(o.Warnings.begin(), o.Warnings.end(), unsaved), o.Warnings.end());
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

// Values chosen for one chip (the processor entry found by an earlier query) never go into
// another: a board changed since is refused after its identification, before any write.
TEST_F(RunFixture, ChipOtherThanTheValuesWereChosenForIsRefusedBeforeAnyWrite) {
    const struct {
        const char* BoxChip;
        const char* NamedChip;
    } cases[] = {{"ATmega644P", "ATmega32"}, {"ATmega32", "ATmega644P"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.BoxChip) + " named " + c.NamedChip);
        BoxConfig box;
        box.Chip = c.BoxChip;
        Configure(box, 0x400);
        const uint8_t lo = Factory->Box.Target.FuseLo;
        Params.Chip = c.NamedChip;
        Params.FuseLo = "0xE2";
        const RunOutcome o = Run();
        EXPECT_EQ(o.Code, errChipChanged);
        EXPECT_EQ(o.Message, "The device's chip is not the one the values were chosen for.");
        EXPECT_EQ(o.Detail, std::string("the values are for the ") + c.NamedChip +
                                ", the device answers as " + c.BoxChip +
                                "; start the update again for the board now on");
        EXPECT_EQ(Letters(SplitTrace(Factory->Written)), "tHLEHLIII");
        EXPECT_FALSE(o.DeviceTouched);
        EXPECT_EQ(o.FusesWritten, "");
        EXPECT_EQ(Factory->Box.Target.FuseLo, lo);
        EXPECT_EQ(Factory->Box.Target.ChipErases, 0);
    }
}

// A value for a fuse byte the chip does not have is refused before any fuse is written: before
// the port is opened when the parameters name the chip (the catalogue's processor entry), else
// right after the chip has answered. The chip that answers decides over the one named.
TEST_F(RunFixture, FuseTheChipLacksIsRefusedBeforeAnyWrite) {
    const struct {
        const char* BoxChip;
        const char* NamedChip;  // RunParams::Chip
        const char* FuseLo;
        const char* FuseEx;
        const char* Detail;
    } cases[] = {
        {"AT90S2313", "AT90S2313", "0xDF", "",
         "the AT90S2313 has no fuse that serial programming can write: Lo fuse 0xDF cannot be "
         "written; leave it out (--fuse-lo on the command line, Fuse_Lo_<k> in the catalogue)"},
        {"AT90S2313", "", "0xDF", "0x00",
         "the AT90S2313 has no fuse that serial programming can write: Lo fuse 0xDF and Ex fuse "
         "0x00 cannot be written; leave them out (--fuse-lo and --fuse-ex on the command line, "
         "Fuse_Lo_<k> and Fuse_Ex_<k> in the catalogue)"},
        // SPIEN unprogrammed, but no fuse of the AT90S2313 is written by serial programming:
        // absent, not a lock-out.
        {"AT90S2313", "", "0xFF", "",
         "the AT90S2313 has no fuse that serial programming can write: Lo fuse 0xFF cannot be "
         "written; leave it out (--fuse-lo on the command line, Fuse_Lo_<k> in the catalogue)"},
        {"ATmega8", "ATmega8", "$E2", "0x00",
         "the ATmega8 has only the Lo and Hi fuses: Ex fuse 0x00 cannot be written; leave it out "
         "(--fuse-ex on the command line, Fuse_Ex_<k> in the catalogue)"},
        {"ATmega8", "", "$E2", "0x00",
         "the ATmega8 has only the Lo and Hi fuses: Ex fuse 0x00 cannot be written; leave it out "
         "(--fuse-ex on the command line, Fuse_Ex_<k> in the catalogue)"},
        {"ATtiny13", "ATtiny13", "", "255",
         "the ATtiny13 has only the Lo and Hi fuses: Ex fuse 255 cannot be written; leave it out "
         "(--fuse-ex on the command line, Fuse_Ex_<k> in the catalogue)"},
        {"ATtiny13", "", "", "255",
         "the ATtiny13 has only the Lo and Hi fuses: Ex fuse 255 cannot be written; leave it out "
         "(--fuse-ex on the command line, Fuse_Ex_<k> in the catalogue)"},
        {"ATmega16", "ATmega644P", "", "0xFD",  // another chip answered than was named
         "the ATmega16 has only the Lo and Hi fuses: Ex fuse 0xFD cannot be written; leave it out "
         "(--fuse-ex on the command line, Fuse_Ex_<k> in the catalogue)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.BoxChip) + " named '" + c.NamedChip + "' " + c.FuseLo + " " +
                     c.FuseEx);
        BoxConfig box;
        box.Chip = c.BoxChip;
        Configure(box, 0x400);
        const uint8_t lo = Factory->Box.Target.FuseLo, ex = Factory->Box.Target.FuseEx;
        Params.Chip = c.NamedChip;
        Params.FuseLo = c.FuseLo;
        Params.FuseEx = c.FuseEx;
        const RunOutcome o = Run();
        EXPECT_EQ(o.Code, errFuseAbsent);
        EXPECT_EQ(o.Message, "Fuse not present on this chip.");
        EXPECT_EQ(o.Detail, c.Detail);
        EXPECT_EQ(Report.FailedText, o.Message);
        const std::vector<std::string> refusal{"programming interrupted: " + o.Message, c.Detail};
        const bool before = std::string(c.NamedChip) == c.BoxChip;
        if (before) {  // nothing at all went to the port
            EXPECT_EQ(Report.Lines, refusal);
            EXPECT_TRUE(Factory->Written.empty());
        } else {  // only the identification
            ASSERT_GE(Report.Lines.size(), 3u);
            EXPECT_EQ(Report.Lines[Report.Lines.size() - 3],
                      std::string("chip type is ") + c.BoxChip);
            EXPECT_EQ(std::vector<std::string>(Report.Lines.end() - 2, Report.Lines.end()),
                      refusal);
            EXPECT_EQ(Letters(SplitTrace(Factory->Written)), "tHLEHLIII");
        }
        EXPECT_FALSE(o.DeviceTouched);
        EXPECT_EQ(o.FusesWritten, "");
        EXPECT_EQ(Factory->Box.Target.FuseLo, lo);
        EXPECT_EQ(Factory->Box.Target.FuseEx, ex);
        EXPECT_EQ(Factory->Box.Target.ChipErases, 0);
        const auto record = ReadFile(Temp.File("runs.jsonl"));
        const std::string all(record.begin(), record.end());
        const std::string last = all.substr(all.rfind('\n', all.size() - 2) + 1);
        EXPECT_NE(last.find("\"device_touched\":false"), std::string::npos) << last;
        EXPECT_NE(last.find("\"code\":32"), std::string::npos) << last;
    }
}

// Every fuse written is read back with its own read instruction right after its write.
TEST_F(RunFixture, EachFuseIsReadBackRightAfterItsWrite) {
    Params.FuseLo = "$E2";
    Params.FuseHi = "0x99";
    Params.FuseEx = "0x05";  // reads 0xFD: the ATmega644P has three extended fuse bits
    const RunOutcome o = Run();
    ASSERT_TRUE(o.Success) << o.Message << " " << o.Detail;
    std::vector<std::vector<uint8_t>> frames;
    for (const TraceFrame& f : IspFrames()) frames.push_back(f.Tail);
    ASSERT_EQ(frames.size(), 3u + 6 + 1);  // enable, signature x2, fuses, erase
    EXPECT_EQ(std::vector<std::vector<uint8_t>>(frames.begin() + 3, frames.begin() + 9),
              (std::vector<std::vector<uint8_t>>{{0xAC, 0xA0, 0x00, 0xE2, 10},
                                                 {0x50, 0x00, 0x00, 0x00, 0},
                                                 {0xAC, 0xA8, 0x00, 0x99, 10},
                                                 {0x58, 0x08, 0x00, 0x00, 0},
                                                 {0xAC, 0xA4, 0x00, 0x05, 10},
                                                 {0x50, 0x08, 0x00, 0x00, 0}}));
    EXPECT_EQ(Factory->Box.Target.FuseEx, 0xFD);
    EXPECT_EQ(o.FusesWritten, "Lo=0xE2 Hi=0x99 Ex=0x05");
    EXPECT_EQ(std::count(Report.Lines.begin(), Report.Lines.end(), "programming Ex fuse 0x05"), 1);
}

// A fuse that reads back other bits than were written, in the bits the chip has, ends the run
// before anything more is written: the device was touched, and the log says what each fuse
// written holds now.
TEST_F(RunFixture, FuseThatReadsBackOtherBitsFailsBeforeTheErase) {
    const struct {
        std::set<FuseByte> Stuck;
        const char *FuseLo, *FuseHi, *FuseEx;
        int32_t Code;
        const char* Detail;
        const char* Written;
        const char* Holds;
    } cases[] = {
        {{FuseByte::Hi},
         "$E2",
         "0x99",
         "0x05",
         errFuseVerify,
         "Hi fuse written as 0x99 reads back as 0xD9 (the ATmega644P implements bits 0xFF of it)",
         "Lo=0xE2 Hi=0x99",
         "Lo=0xE2 Hi=0xD9"},
        {{FuseByte::Ex},
         "",
         "",
         "0x05",
         errFuseVerify,
         "Ex fuse written as 0x05 reads back as 0xFF (the ATmega644P implements bits 0x07 of it)",
         "Ex=0x05",
         "Ex=0xFF"},
        // What it held already is no difference, nor are the bits the chip does not have.
        {{FuseByte::Hi}, "", "0xD9", "", 0, "", "Hi=0xD9", ""},
        {{FuseByte::Ex}, "", "", "0xFF", 0, "", "Ex=0xFF", ""},
        {{FuseByte::Ex}, "", "", "0x07", 0, "", "Ex=0x07", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Detail);
        BoxConfig box;
        box.StuckFuses = c.Stuck;
        Configure(box);
        Params.FuseLo = c.FuseLo;
        Params.FuseHi = c.FuseHi;
        Params.FuseEx = c.FuseEx;
        const RunOutcome o = Run();
        EXPECT_EQ(o.FusesWritten, c.Written);
        if (c.Code == 0) {
            EXPECT_TRUE(o.Success) << o.Message << " " << o.Detail;
            continue;
        }
        EXPECT_EQ(o.Code, c.Code);
        EXPECT_EQ(o.Message, "Fuse verify error.");
        EXPECT_EQ(o.Detail, c.Detail);
        EXPECT_TRUE(o.DeviceTouched);
        EXPECT_EQ(
            std::vector<std::string>(Report.Lines.end() - 5, Report.Lines.end()),
            (std::vector<std::string>{"programming interrupted: Fuse verify error.", c.Detail,
                                      std::string("fuses written before the failure: ") + c.Written,
                                      std::string("fuses the device holds now: ") + c.Holds,
                                      "the device needs another update"}));
        // Nothing after the fuse that failed: no later fuse, no EEPROM read, no erase.
        const TraceFrame last = IspFrames().back();
        EXPECT_TRUE(last.Tail[0] == 0x50 || last.Tail[0] == 0x58);
        EXPECT_EQ(Letters(SplitTrace(Factory->Written)).find('r'), std::string::npos);
        EXPECT_EQ(Factory->Box.Target.ChipErases, 0);
        EXPECT_EQ(Factory->Box.Target.Eeprom, Eeprom);
        if (std::string(c.FuseEx) == "0x05" && c.Stuck.count(FuseByte::Hi)) {
            EXPECT_EQ(Factory->Box.Target.FuseEx, 0xFF);  // never written
        }
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
