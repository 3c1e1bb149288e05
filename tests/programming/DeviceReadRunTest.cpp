// Reading and verifying a device against the in-process box: what the device holds told as
// the verdict, fuses of every chip class in words, and byte traces that hold every read and
// verify to read commands only.
#include "programming/DeviceReadRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "image/CheckValue.h"
#include "image/ImageLoader.h"
#include "ledger/Sha256.h"
#include "link/FuseMeaning.h"
#include "tests/support/BoxFactory.h"
#include "tests/support/RecordingReport.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestData.h"
#include "tests/support/Trace.h"

namespace {
constexpr int32_t AppLength = 0xF000;  // Bootloader_<k> of the item's processor entry
constexpr char AppId[] = "KQ410 2.6.1";
constexpr char BootId[] = "KQ4*0 1.0";

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Put(std::vector<uint8_t>& bytes, std::size_t at, const char* text) {
    std::copy(text, text + std::strlen(text) + 1, bytes.begin() + static_cast<long>(at));
}

struct ReadFixture : ::testing::Test {
    void SetUp() override { UseChip("ATmega644P"); }

    void UseChip(const std::string& chip) {
        BoxConfig config;
        config.Chip = chip;
        Factory = std::make_unique<BoxFactory>(config);
        Factory->Box.Target.Eeprom = RandomBytes(Factory->Box.Target.Eeprom.size(), 9);
    }

    // An application with its identifier and a bootloader with its own above it, in a file.
    void WriteItemFirmware() {
        File = RandomBytes(0xF400, 4);
        Put(File, 0x100, AppId);
        Put(File, 0xF010, BootId);
        WriteBytes("main.bin", File);
    }

    void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(Temp.File(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

    // What an update of the item leaves in the flash.
    std::vector<uint8_t> Stamped() const {
        std::vector<uint8_t> flash(isp::FlashImageSize, 0xFF);
        std::copy(File.begin(), File.end(), flash.begin());
        StampCheckValue(flash.data(), AppLength);
        flash.resize(Factory->Box.Target.Flash.size());
        return flash;
    }

    std::vector<KnownFirmware> Known() const {
        return {{3, "Q40 main controller", "KQ4+0", Temp.File("main.bin"), "61440"},
                {5, "Display", "DS205", Temp.File("display.bin"), ""}};
    }

    RunOutcome Read(const std::string& saveFolder = {}) {
        DeviceReadRequest r;
        r.Operation = DeviceReadRequest::Read;
        r.PortName = "ttySIM0";
        r.DataFolder = Temp.File("data");
        r.KnownFirmwares = [this](const std::string& chip) {
            Chips.push_back(chip);
            return Known();
        };
        r.SaveFolder = saveFolder;
        return DeviceReadRun(r, Report, Factory->Factory()).Execute();
    }

    RunOutcome Verify(const std::string& firmware, const std::string& length) {
        DeviceReadRequest r;
        r.Operation = DeviceReadRequest::Verify;
        r.PortName = "ttySIM0";
        r.DataFolder = Temp.File("data");
        r.FirmwarePath = firmware;
        r.ApplicationLength = length;
        r.FirmwarePattern = "KQ4+0";
        r.IsItem = true;
        return DeviceReadRun(r, Report, Factory->Factory()).Execute();
    }

    bool Logged(const std::string& line) const {
        return std::find(Report.Lines.begin(), Report.Lines.end(), line) != Report.Lines.end();
    }

    nlohmann::json LastRecord() const {
        std::ifstream in(Temp.File("data/runs.jsonl"));
        std::string line, last;
        while (std::getline(in, line)) last = line;
        return nlohmann::json::parse(last);
    }

    TempFolder Temp;
    std::unique_ptr<BoxFactory> Factory;
    RecordingReport Report;
    std::vector<uint8_t> File;
    std::vector<std::string> Chips;
};

// Only reads: the box's read commands, and of the instructions relayed to the chip only
// Programming Enable, the signature, fuse and lock reads.
void ExpectOnlyReads(const std::vector<uint8_t>& written) {
    const std::string allowed = "IHLEPDtVrR";
    for (const TraceFrame& f : SplitTrace(written)) {
        ASSERT_NE(allowed.find(f.Letter), std::string::npos) << "command '" << f.Letter << "'";
        if (f.Letter != 'I') continue;
        ASSERT_EQ(f.Tail.size(), 5u);
        const uint8_t b1 = f.Tail[0], b2 = f.Tail[1];
        const bool read = (b1 == 0xAC && b2 == 0x53) || b1 == 0x30 ||
                          (b1 == 0x50 && (b2 == 0x00 || b2 == 0x08)) ||
                          (b1 == 0x58 && (b2 == 0x00 || b2 == 0x08));
        EXPECT_TRUE(read) << std::hex << "instruction " << int{b1} << " " << int{b2};
        EXPECT_EQ(f.Tail[4], 0) << "parameter byte";
    }
}
}  // namespace

TEST_F(ReadFixture, StampedFirmwareOfAnItemIsNamedIntactAndItsOwn) {
    WriteItemFirmware();
    Factory->Box.Target.Flash = Stamped();
    const RunOutcome o = Read();
    ASSERT_TRUE(o.Success) << o.Message << " " << o.Detail;
    const std::string verdict =
        "installed: item 3 Q40 main controller, KQ410 2.6.1, check value valid, same as its "
        "firmware file";
    EXPECT_EQ(o.Readout.Verdict, verdict);
    EXPECT_EQ(Report.Lines.back(), verdict);
    EXPECT_EQ(Report.Lines.front(), "reading the device; nothing is written to it");
    EXPECT_EQ(Chips, std::vector<std::string>{"ATmega644P"});
    ASSERT_EQ(o.Readout.Identifiers.size(), 2u);
    EXPECT_EQ(o.Readout.Identifiers[0].Text, AppId);
    EXPECT_TRUE(o.Readout.Identifiers[1].Bootloader);
    EXPECT_EQ(o.Readout.Identifiers[1].Text, BootId);
    ASSERT_EQ(o.Readout.Checks.size(), 1u);
    EXPECT_EQ(o.Readout.Checks[0].Length, AppLength);
    EXPECT_EQ(o.Readout.LastNonBlank, 0xF3FF);
    EXPECT_TRUE(Logged("application identifier of item 3 (KQ4+0): KQ410 2.6.1"));
    EXPECT_TRUE(Logged("bootloader identifier of item 3 (KQ4*0): KQ4*0 1.0"));
    EXPECT_TRUE(Logged("flash: last non-blank byte at 0xF3FF of 65536 bytes"));
    EXPECT_EQ(o.Readout.EepromSha256, Sha256Hex(Factory->Box.Target.Eeprom.data(), 0x800));
    EXPECT_FALSE(o.Readout.EepromBlank);
    EXPECT_FALSE(o.DeviceTouched);
    EXPECT_EQ(o.FirmwareId, AppId);

    // The record and the log file keep it.
    const nlohmann::json record = LastRecord();
    EXPECT_EQ(record["operation"], "read");
    EXPECT_EQ(record["verdict"], verdict);
    EXPECT_EQ(record["identifiers"][0]["text"], AppId);
    EXPECT_EQ(record["check_values"][0]["valid"], true);
    EXPECT_EQ(record["check_values"][0]["length"], AppLength);
    EXPECT_EQ(record["check_values"][0]["firmware_file"], "same");
    EXPECT_EQ(record["fuses_read"]["Hi"], "0xD9");
    EXPECT_EQ(record["lock_bits"], "0xFF");
    EXPECT_EQ(record["eeprom_sha256"], o.Readout.EepromSha256);
    EXPECT_EQ(record["device_touched"], false);
    const std::vector<uint8_t> log = ReadFile(o.LogPath);
    EXPECT_NE(std::string(log.begin(), log.end()).find(verdict + "\n"), std::string::npos);
}

// What the flash holds, told in one line, case by case.
TEST_F(ReadFixture, VerdictsOfWhatTheFlashHolds) {
    WriteItemFirmware();
    const std::vector<uint8_t> stamped = Stamped();
    const struct {
        const char* Name;
        std::function<void(std::vector<uint8_t>&)> Change;
        const char* Verdict;
    } cases[] = {
        {"one byte changed above the application", [](auto& f) { f[0xF100] ^= 0x40; },
         "installed: item 3 Q40 main controller, KQ410 2.6.1, check value valid, differs from "
         "its firmware file from 0xF100 on"},
        {"one byte changed in the application", [](auto& f) { f[0x1234] ^= 0x01; },
         "identifier KQ410 2.6.1 found, check value wrong: an interrupted or damaged update"},
        {"an update that stopped before the application's last page",
         [](auto& f) { std::fill(f.begin() + 0xE000, f.begin() + 0xF000, 0xFF); },
         "identifier KQ410 2.6.1 found, check value wrong: an interrupted or damaged update"},
        {"erased", [](auto& f) { std::fill(f.begin(), f.end(), 0xFF); }, "erased"},
        {"a firmware of no item",
         [](auto& f) {
             f = RandomBytes(f.size(), 77);
             Put(f, 0x200, "ZZ999 1.0");
         },
         "no identifier of this catalogue found"},
        {"the bootloader alone", [](auto& f) { std::fill(f.begin(), f.begin() + 0xF000, 0xFF); },
         "bootloader identifier KQ4*0 1.0 found, no application identifier of this catalogue"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        UseChip("ATmega644P");
        std::vector<uint8_t> flash = stamped;
        c.Change(flash);
        Factory->Box.Target.Flash = flash;
        const RunOutcome o = Read();
        ASSERT_TRUE(o.Success) << o.Message;
        EXPECT_EQ(o.Readout.Verdict, c.Verdict);
        EXPECT_EQ(Factory->Box.Target.Flash, flash);  // read, not changed
    }
}

TEST_F(ReadFixture, ReadsFlashThenEepromWithTheirPhases) {
    const RunOutcome o = Read();
    ASSERT_TRUE(o.Success);
    std::vector<int32_t> want(0x10000 / 32, phReadFlash);
    want.push_back(phFlashRead);
    want.insert(want.end(), 0x800 / 32, phReadEeprom);
    want.push_back(phEepromRead);
    EXPECT_EQ(Report.Phases, want);
    EXPECT_EQ(o.Readout.Verdict, "erased");
    EXPECT_EQ(Report.Lines[Report.Lines.size() - 2], "disabling programming mode");
}

// Every chip class: each fuse byte it has read with its own read instruction and told bit by
// bit, the lock bits where the chip can read them, the guard's verdict; and the whole trace
// of the read holds reads only.
TEST_F(ReadFixture, FusesOfEveryChipInHexAndWordsWithOnlyReadsSent) {
    for (const DeviceEntry& d : DeviceTable) {
        SCOPED_TRACE(d.Name);
        UseChip(d.Name);
        TargetModel& target = Factory->Box.Target;
        target.FuseLo = 0xE2;
        target.FuseHi = 0xD9;
        target.FuseEx = 0xFD;
        target.LockBits = 0xEE;
        target.Flash = RandomBytes(target.Flash.size(), 3);
        const TargetModel before = target;
        Report = RecordingReport{};
        const RunOutcome o = Read();
        ASSERT_TRUE(o.Success) << o.Message;
        ExpectOnlyReads(Factory->Written);
        EXPECT_EQ(target.Flash, before.Flash);
        EXPECT_EQ(target.Eeprom, before.Eeprom);
        EXPECT_EQ(target.ChipErases, 0);
        EXPECT_EQ(target.FuseLo, 0xE2);

        std::vector<std::vector<uint8_t>> reads;  // fuse and lock instructions, in order
        for (const TraceFrame& f : SplitTrace(Factory->Written))
            if (f.Letter == 'I' && (f.Tail[0] == 0x50 || f.Tail[0] == 0x58))
                reads.push_back({f.Tail[0], f.Tail[1]});
        std::vector<std::vector<uint8_t>> want;
        const uint8_t values[] = {0xE2, 0xD9, 0xFD};
        for (FuseByte fuse : FusesOf(d)) {
            const FuseInstructions i = InstructionsOf(fuse);
            want.push_back({i.Read1, i.Read2});
            const uint8_t value = values[static_cast<int>(fuse)];
            char head[32];
            std::snprintf(head, sizeof head, "fuse %s 0x%02X", FuseName(fuse), value);
            const auto at = std::find(Report.Lines.begin(), Report.Lines.end(), head);
            ASSERT_NE(at, Report.Lines.end()) << head;
            const std::vector<std::string> meaning = DescribeFuse(d, fuse, value);
            ASSERT_FALSE(meaning.empty());
            for (std::size_t k = 0; k < meaning.size(); ++k)
                EXPECT_EQ(*(at + 1 + static_cast<long>(k)), "  " + meaning[k]);
        }
        if (HasLockRead(d)) {
            want.push_back({0x58, 0x00});
            EXPECT_TRUE(Logged("lock bits 0xEE"));
            EXPECT_TRUE(Logged("  " + DescribeLockBits(d, 0xEE)[0]));
            EXPECT_EQ(std::count_if(
                          Report.Lines.begin(), Report.Lines.end(),
                          [](const std::string& l) { return l.rfind("lock-out guard: ", 0) == 0; }),
                      1);
        } else {
            EXPECT_TRUE(Logged(std::string("the ") + d.Name +
                               " has no fuses or lock bits the serial interface can read"));
        }
        EXPECT_EQ(reads, want);
    }
}

TEST_F(ReadFixture, LockoutGuardAndReadLockAreTold) {
    Factory->Box.Target.FuseHi = 0xFF;  // SPIEN unprogrammed, as the guard would refuse it
    Factory->Box.Target.LockBits = 0xFC;
    const RunOutcome o = Read();
    ASSERT_TRUE(o.Success);
    EXPECT_TRUE(Logged("lock-out guard: Hi fuse 0xFF would disable serial programming (SPIEN)"));
    EXPECT_EQ(o.Readout.LockoutProblems.size(), 1u);
    EXPECT_EQ(o.Readout.Verdict,
              "locked (LB mode 3): the flash cannot be read back, what it holds is unknown");
}

// --save: the flash and the EEPROM as Intel HEX beside each other, named like a run's EEPROM
// copy, loading back to exactly what the device holds; no copy is marked pending.
TEST_F(ReadFixture, SavedCopiesLoadBackToWhatTheDeviceHolds) {
    WriteItemFirmware();
    Factory->Box.Target.Flash = Stamped();
    std::fill(Factory->Box.Target.Eeprom.begin(), Factory->Box.Target.Eeprom.begin() + 64, 0xFF);
    const RunOutcome o = Read(Temp.File("copies"));
    ASSERT_TRUE(o.Success) << o.Message << o.Detail;
    const std::string prefix = Temp.File("copies/");
    EXPECT_EQ(o.Readout.EepromCopyPath.rfind(prefix + "eeprom-ATmega644P-ttySIM0-", 0), 0u);
    EXPECT_EQ(o.Readout.FlashCopyPath.rfind(prefix + "flash-ATmega644P-ttySIM0-", 0), 0u);
    EXPECT_TRUE(Logged("saving eeprom to " + o.Readout.EepromCopyPath));
    const FlashImageBuffer flash, eeprom;
    EXPECT_EQ(ReadIntelHex(o.Readout.FlashCopyPath, flash.Data(), isp::FlashImageSize), 0xF400);
    EXPECT_TRUE(std::equal(Factory->Box.Target.Flash.begin(), Factory->Box.Target.Flash.end(),
                           flash.Data()));
    EXPECT_EQ(ReadIntelHex(o.Readout.EepromCopyPath, eeprom.Data(), isp::FlashImageSize), 0x800);
    EXPECT_TRUE(std::equal(Factory->Box.Target.Eeprom.begin(), Factory->Box.Target.Eeprom.end(),
                           eeprom.Data()));
    EXPECT_FALSE(std::filesystem::exists(Temp.File("data/pending-eeprom.json")));
    EXPECT_EQ(LastRecord()["flash_copy"], o.Readout.FlashCopyPath);
    EXPECT_EQ(LastRecord()["eeprom_saved"], o.Readout.EepromCopyPath);
}

TEST_F(ReadFixture, AbortStopsTheReadAndSaysNothingWasWritten) {
    Report.AbortOnPhase = phReadFlash;
    Report.AbortAfter = 10;
    const RunOutcome o = Read();
    EXPECT_FALSE(o.Success);
    EXPECT_EQ(o.Code, errAborted);
    EXPECT_EQ(Report.FailedText, "Aborted.");
    EXPECT_FALSE(o.DeviceTouched);
    const std::vector<std::string> tail(Report.Lines.end() - 2, Report.Lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"reading interrupted: Aborted.",
                                              "nothing was written to the device"}));
    EXPECT_EQ(LastRecord()["outcome"], "Aborted.");
    EXPECT_EQ(std::count(Factory->Written.begin(), Factory->Written.end(), 'r'), 0);
}

// A stop asked for at any line of a read ends it "Aborted." without another part read: the
// reads between the long transfers see it too, not only their progress calls.
TEST_F(ReadFixture, StopAtAnyLineEndsTheReadBeforeItsNextPart) {
    const std::vector<std::string> parts = {
        "reading programmer version", "reading fuses and lock bits", "lock bits ",
        "reading flash...",           "reading eeprom...",           "saving eeprom to "};
    ASSERT_TRUE(Read(Temp.File("copies")).Success);
    const std::vector<std::string> good = Report.Lines;
    const auto stepAt = [&](const std::vector<std::string>& lines, std::size_t i) {
        for (std::size_t p = 0; p < parts.size(); ++p)
            if (lines[i].rfind(parts[p], 0) == 0) return static_cast<int>(p);
        return -1;
    };
    for (std::size_t stopAt = 1; stopAt < good.size(); ++stopAt) {
        SCOPED_TRACE("stop at line " + std::to_string(stopAt) + ": " + good[stopAt - 1]);
        Report = RecordingReport{};
        Report.StopAtLineNumber = static_cast<int>(stopAt);
        const RunOutcome o = Read(Temp.File("copies"));
        // Only a stop after the last part came too late to keep anything from being read.
        int lastPart = -1;
        for (std::size_t i = 0; i < stopAt; ++i) lastPart = std::max(lastPart, stepAt(good, i));
        int nextPartAfterStop = -1;
        for (std::size_t i = stopAt; i < Report.Lines.size(); ++i)
            if (stepAt(Report.Lines, i) > lastPart) nextPartAfterStop = stepAt(Report.Lines, i);
        if (o.Success) {
            EXPECT_GE(lastPart, static_cast<int>(parts.size()) - 1);
            continue;
        }
        EXPECT_EQ(o.Code, errAborted);
        EXPECT_FALSE(o.DeviceTouched);
        EXPECT_EQ(nextPartAfterStop, -1) << Report.Lines[Report.Lines.size() - 3];
        EXPECT_EQ(Report.Lines.back(), "nothing was written to the device");
        EXPECT_EQ(LastRecord()["outcome"], "Aborted.");
        ExpectOnlyReads(Factory->Written);
    }
}

// Verify: the image as an update would program it against the whole flash, phases 0 and 1.
TEST_F(ReadFixture, VerifyPassesOnTheStampedImageAndFailsOnOneByteChanged) {
    WriteItemFirmware();
    Factory->Box.Target.Flash = Stamped();
    RunOutcome o = Verify(Temp.File("main.bin"), "61440");
    ASSERT_TRUE(o.Success) << o.Message << o.Detail;
    EXPECT_EQ(o.Readout.Verdict, "Device holds this item's firmware.");
    EXPECT_EQ(Report.Lines.back(), "Device holds this item's firmware.");
    std::vector<int32_t> want(0x10000 / 32, phVerifyFlash);
    want.push_back(phFlashVerified);
    EXPECT_EQ(Report.Phases, want);
    EXPECT_EQ(o.FirmwareId, AppId);
    EXPECT_EQ(o.ImageLength, AppLength);
    EXPECT_EQ(LastRecord()["operation"], "verify");
    EXPECT_EQ(LastRecord()["verdict"], "Device holds this item's firmware.");
    ExpectOnlyReads(Factory->Written);

    Factory->Box.Target.Flash[0x1234] ^= 0x01;
    Factory->Box.Target.Flash[0xFFFF] = 0x00;
    Report = RecordingReport{};
    o = Verify(Temp.File("main.bin"), "61440");
    EXPECT_FALSE(o.Success);
    EXPECT_EQ(o.Code, errFlashVerify);
    EXPECT_EQ(Report.FailedText, "Flash verify error!");
    EXPECT_EQ(o.Readout.DifferingBlocks, 2);
    EXPECT_FALSE(o.DeviceTouched);
    const auto at =
        std::find(Report.Lines.begin(), Report.Lines.end(), "verify failed: Flash verify error!");
    ASSERT_NE(at, Report.Lines.end());
    EXPECT_EQ(*(at + 1), "*** data dump begin ***");
    EXPECT_EQ(*(at + 2), "Written at Address 0x00001220");
    EXPECT_EQ(*(at + 5), "Read from Address 0x00001220");
    EXPECT_EQ(*(at + 8), "*** data dump end ***");
    EXPECT_EQ(*(at + 9), "2 of 2048 blocks of 32 bytes differ, the first at 0x00001220");
    EXPECT_EQ(Report.Lines.back(), "nothing was written to the device");
    EXPECT_EQ(LastRecord()["differing_blocks"], 2);
    EXPECT_EQ(LastRecord()["code"], errFlashVerify);
    ExpectOnlyReads(Factory->Written);
}

// Whatever fails in a verify (a file that is no firmware, one too large for the chip, an
// abort) ends before anything could be written.
TEST_F(ReadFixture, VerifyFailuresNeverWrite) {
    WriteBytes("big.bin", RandomBytes(0x10001, 5));
    WriteBytes("ok.bin", RandomBytes(0x100, 5));
    WriteBytes("empty.bin", {});
    const struct {
        const char* File;
        const char* Length;
        int32_t Code;
        int AbortAfter;
    } cases[] = {
        {"missing.hex", "", errFileOpen, -1}, {"big.bin", "", errImageTooLarge, -1},
        {"empty.bin", "", errImageEmpty, -1}, {"ok.bin", "0x10001", errImageTooLarge, -1},
        {"ok.bin", "", errAborted, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        UseChip("ATmega644P");
        Report = RecordingReport{};
        if (c.AbortAfter >= 0) {
            Report.AbortOnPhase = phVerifyFlash;
            Report.AbortAfter = c.AbortAfter;
        }
        const RunOutcome o = Verify(Temp.File(c.File), c.Length);
        EXPECT_EQ(o.Code, c.Code);
        EXPECT_EQ(Report.Lines.back(), "nothing was written to the device");
        ExpectOnlyReads(Factory->Written);
        EXPECT_EQ(Factory->Box.Target.ChipErases, 0);
    }
}

// The trace of every chip class, read and verify alike, holds reads only.
TEST_F(ReadFixture, EveryChipClassGetsReadsOnly) {
    for (const DeviceEntry& d : DeviceTable) {
        SCOPED_TRACE(d.Name);
        UseChip(d.Name);
        const std::vector<uint8_t> flash = RandomBytes(Factory->Box.Target.Flash.size(), 8);
        Factory->Box.Target.Flash = flash;
        WriteBytes("chip.bin", flash);
        ASSERT_TRUE(Read().Success);
        const RunOutcome v = Verify(Temp.File("chip.bin"), "");
        EXPECT_EQ(v.Code, errFlashVerify);  // the stamp changed the last two bytes
        EXPECT_EQ(v.Readout.DifferingBlocks, 1);
        ExpectOnlyReads(Factory->Written);
        EXPECT_EQ(Factory->Box.Target.Flash, flash);
        EXPECT_EQ(Factory->Box.Target.ChipErases, 0);
        const std::string letters = Letters(SplitTrace(Factory->Written));
        EXPECT_EQ(letters.find_first_of("wWS"), std::string::npos);
    }
}

TEST(Sha256, KnownDigest) {
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(Sha256Hex(abc, 3),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}
