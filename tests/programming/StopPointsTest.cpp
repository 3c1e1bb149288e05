// A stop asked for at each point of a run, against the in-process box: before anything is
// written the run ends at once and sends nothing more; from the erase on it first puts the
// EEPROM back; during the flash it ends at the next page. What was sent is compared byte for
// byte with a good run of the same update: the stopped run sends exactly its beginning.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "link/DeviceTable.h"
#include "programming/EepromRestore.h"
#include "programming/PendingCopies.h"
#include "programming/ProgrammingRun.h"
#include "tests/support/BoxFactory.h"
#include "tests/support/RecordingReport.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestData.h"
#include "tests/support/Trace.h"

namespace {
const char* const Aborted = "programming interrupted: Aborted.";
const char* const EepromBack =
    "the eeprom was written back and verified before the stop; the flash is not programmed";
constexpr uint8_t OldFlash = 0x00;

using FramePick = std::function<bool(const TraceFrame&)>;

bool IsFuseWrite(const TraceFrame& f) {
    return f.Letter == 'I' && f.Tail.size() >= 2 && f.Tail[0] == 0xAC && (f.Tail[1] & 0xF0) == 0xA0;
}
bool IsErase(const TraceFrame& f) {
    return f.Letter == 'I' && f.Tail.size() >= 2 && f.Tail[0] == 0xAC && f.Tail[1] == 0x80;
}
bool IsEepromRead(const TraceFrame& f) {
    return f.Letter == 'r';
}
bool IsFlashFrame(const TraceFrame& f) {
    return f.Letter == 'W' || f.Letter == 'S' || f.Letter == 'R';
}
bool IsPageLoad(const TraceFrame& f) {
    return f.Letter == 'W';
}
const int LoadsPerPage = FindDeviceByName("ATmega644P")->PageSize / 32;

// The bytes of the frames before the good run's 'nth' frame that 'pick' chooses.
std::vector<uint8_t> BytesBefore(const std::vector<uint8_t>& written, const FramePick& pick,
                                 int nth) {
    std::size_t offset = 0;
    for (const TraceFrame& f : SplitTrace(written)) {
        if (pick(f) && --nth == 0) break;
        offset += 1 + f.Tail.size();
    }
    return {written.begin(), written.begin() + static_cast<long>(offset)};
}

struct StopCase {
    const char* Where;
    bool Fuses;                                 // the run writes the low and the high fuse
    std::function<void(RecordingReport&)> Ask;  // where the stop is asked for
    // What the stopped run never sends: the good run's 'nth' frame that 'unsent' picks, and
    // everything after it; everything before it is sent.
    FramePick Unsent;
    int Nth;
    const char* StoppedIn;  // the log line before "programming interrupted: Aborted."
    bool Touched;
    bool EepromPutBack;  // the stop waited for the EEPROM: erased, EEPROM back, flash blank
};

struct StopPoints : ::testing::Test {
    StopPoints() {
        std::ofstream(Temp.File("fw.bin"), std::ios::binary)
            .write(reinterpret_cast<const char*>(Image.data()),
                   static_cast<std::streamsize>(Image.size()));
    }

    // A device with its own EEPROM data and old firmware.
    static void Prepare(BoxFactory& box, const std::vector<uint8_t>& eeprom) {
        box.Box.Target.Eeprom = eeprom;
        box.Box.Target.Flash.assign(box.Box.Target.Flash.size(), OldFlash);
    }

    RunOutcome Program(BoxFactory& box, RecordingReport& report, bool fuses,
                       const std::string& data) {
        RunParams params;
        params.FirmwarePath = Temp.File("fw.bin");
        params.PortName = "ttySIM0";
        if (fuses) {
            params.FuseLo = "$E2";
            params.FuseHi = "0x99";
        }
        ProgrammingRun run(params, report, box.Factory(), RunOptions{data, ""});
        return run.Execute();
    }

    std::vector<PendingCopy> Pending(const std::string& data) {
        std::vector<PendingCopy> copies;
        EXPECT_EQ(ReadPendingCopies(data, copies), 0);
        return copies;
    }

    TempFolder Temp;
    const std::vector<uint8_t> Image = RandomBytes(0x3000, 31);
};
}  // namespace

TEST_F(StopPoints, EachPointEndsTheRunWithTheDeviceWhole) {
    const StopCase cases[] = {
        {"during identification", true,
         [](RecordingReport& r) { r.StopAtLine = "reading chip type..."; }, IsFuseWrite, 1,
         "setting port time to 100", false, false},
        {"during identification, no fuses", false,
         [](RecordingReport& r) { r.StopAtLine = "reading chip type..."; }, IsEepromRead, 1,
         "reading eeprom...", false, false},
        {"between the fuse writes", true,
         [](RecordingReport& r) { r.StopAtLine = "programming Lo fuse $E2"; }, IsFuseWrite, 2,
         "programming Lo fuse $E2", true, false},
        {"after the eeprom read", true, [](RecordingReport& r) { r.AbortOnPhase = phEepromRead; },
         IsErase, 1, "reading eeprom...", true, false},
        {"after the eeprom read, no fuses", false,
         [](RecordingReport& r) { r.AbortOnPhase = phEepromRead; }, IsErase, 1, "reading eeprom...",
         false, false},
        {"at erasing chip", false, [](RecordingReport& r) { r.StopAtLine = "erasing chip"; },
         IsFlashFrame, 1, "programming eeprom...", true, true},
        {"at the first eeprom write-back block", false,
         [](RecordingReport& r) { r.AbortOnPhase = phProgramEeprom; }, IsFlashFrame, 1,
         "programming eeprom...", true, true},
        {"at the last eeprom write-back block", false,
         [](RecordingReport& r) {
             r.AbortOnPhase = phProgramEeprom;
             r.AbortAfter = 0x800 / 32 - 1;
         },
         IsFlashFrame, 1, "programming eeprom...", true, true},
        {"when the eeprom write-back has ended", false,
         [](RecordingReport& r) { r.AbortOnPhase = phEepromProgrammed; }, IsFlashFrame, 1,
         "programming eeprom...", true, true},
        {"during the flash", false,
         [](RecordingReport& r) {
             r.AbortOnPhase = phProgramFlash;
             r.AbortAfter = 2;
         },
         // Two pages written, the third not begun.
         IsPageLoad, 2 * LoadsPerPage + 1, "programming flash...", true, false},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.Where);
        const std::vector<uint8_t> eeprom = RandomBytes(0x800, 32);
        BoxFactory good, stopped;
        Prepare(good, eeprom);
        Prepare(stopped, eeprom);
        const uint8_t fuseLo = stopped.Box.Target.FuseLo, fuseHi = stopped.Box.Target.FuseHi;
        RecordingReport goodReport;
        ASSERT_TRUE(Program(good, goodReport, c.Fuses, Temp.File("good")).Success);

        RecordingReport report;
        c.Ask(report);
        const std::string data = Temp.File(std::string("data-") + c.Where);
        const RunOutcome o = Program(stopped, report, c.Fuses, data);

        EXPECT_EQ(stopped.Written, BytesBefore(good.Written, c.Unsent, c.Nth));
        EXPECT_EQ(o.Code, errAborted);
        EXPECT_EQ(report.FailedText, "Aborted.");
        EXPECT_EQ(o.DeviceTouched, c.Touched);
        const auto at = std::find(report.Lines.begin(), report.Lines.end(), Aborted);
        ASSERT_NE(at, report.Lines.end());
        ASSERT_NE(at, report.Lines.begin());
        EXPECT_EQ(*(at - 1), c.StoppedIn);
        // The EEPROM is in the device, whatever happened to the flash.
        EXPECT_EQ(stopped.Box.Target.Eeprom, eeprom);
        EXPECT_TRUE(Pending(data).empty());
        if (!c.Touched) {
            EXPECT_EQ(report.Lines.back(), Aborted);
            EXPECT_EQ(stopped.Box.Target.ChipErases, 0);
            EXPECT_EQ(stopped.Box.Target.Flash,
                      std::vector<uint8_t>(stopped.Box.Target.Flash.size(), OldFlash));
        }
        if (!c.Fuses || !c.Touched) {
            EXPECT_EQ(stopped.Box.Target.FuseLo, fuseLo);
            EXPECT_EQ(stopped.Box.Target.FuseHi, fuseHi);
        }
        if (c.EepromPutBack) {
            EXPECT_EQ(*(at + 1), EepromBack);
            EXPECT_EQ(report.Lines.back(),
                      "the device needs another update; its eeprom copy is " + o.EepromCopyPath);
            EXPECT_EQ(stopped.Box.Target.ChipErases, 1);
            EXPECT_EQ(stopped.Box.Target.Flash,
                      std::vector<uint8_t>(stopped.Box.Target.Flash.size(), 0xFF));
            // The status line was told once, during the write-back (or not at all when the
            // stop came only after its last block).
            EXPECT_LE(report.PendingAt.size(), 1u);
            for (const std::string& line : report.PendingAt)
                EXPECT_EQ(line, "programming eeprom...");
        } else {
            EXPECT_TRUE(report.PendingAt.empty());
            EXPECT_EQ(std::find(report.Lines.begin(), report.Lines.end(), EepromBack),
                      report.Lines.end());
        }
    }
}

TEST_F(StopPoints, BetweenTheFuseWritesOnlyTheFirstIsWritten) {
    BoxFactory box;
    Prepare(box, RandomBytes(0x800, 33));
    const uint8_t fuseHi = box.Box.Target.FuseHi;
    RecordingReport report;
    report.StopAtLine = "programming Lo fuse $E2";
    const RunOutcome o = Program(box, report, true, Temp.File("data"));
    EXPECT_EQ(o.FusesWritten, "Lo=0xE2");
    EXPECT_EQ(box.Box.Target.FuseLo, 0xE2);
    EXPECT_EQ(box.Box.Target.FuseHi, fuseHi);
    EXPECT_EQ(report.Lines.back(), "the device needs another update");
}

// The stop asked for during the write-back is seen once and then waits: the transfer is not
// told to stop, and the status line learns of it at once.
TEST_F(StopPoints, WriteBackIsNotToldToStop) {
    BoxFactory box;
    Prepare(box, RandomBytes(0x800, 34));
    RecordingReport report;
    report.AbortOnPhase = phProgramEeprom;
    report.AbortAfter = 10;
    const RunOutcome o = Program(box, report, false, Temp.File("data"));
    EXPECT_EQ(o.Code, errAborted);
    EXPECT_EQ(std::count(report.Phases.begin(), report.Phases.end(), phProgramEeprom), 0x800 / 32);
    EXPECT_EQ(std::count(report.Phases.begin(), report.Phases.end(), phEepromProgrammed), 1);
    EXPECT_EQ(std::count(report.Phases.begin(), report.Phases.end(), phProgramFlash), 0);
    EXPECT_EQ(report.PendingAt, std::vector<std::string>{"programming eeprom..."});
}

// The restore: a stop before it writes leaves the device as it was; once it writes, the copy
// goes in whole and is verified, and the restore ends done.
TEST_F(StopPoints, RestoreStopsBeforeItWritesOrFinishes) {
    const std::vector<uint8_t> copy = RandomBytes(0x800, 35), before = RandomBytes(0x800, 36);
    const std::string copyPath = Temp.File("eeprom-ATmega644P-ttyS0-1.bin");
    std::ofstream(copyPath, std::ios::binary)
        .write(reinterpret_cast<const char*>(copy.data()),
               static_cast<std::streamsize>(copy.size()));
    const struct {
        const char* Where;
        std::function<void(RecordingReport&)> Ask;
        bool Done;
    } cases[] = {
        {"during identification", [](RecordingReport& r) { r.StopAtLine = "reading chip type..."; },
         false},
        {"after the eeprom read", [](RecordingReport& r) { r.AbortOnPhase = phEepromRead; }, false},
        {"at its first write", [](RecordingReport& r) { r.AbortOnPhase = phProgramEeprom; }, true},
        {"during the verify", [](RecordingReport& r) { r.AbortOnPhase = phVerifyEeprom; }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Where);
        BoxFactory box;
        Prepare(box, before);
        RecordingReport report;
        c.Ask(report);
        const RunOutcome o = RestoreEeprom("ttySIM0", copyPath, report, box.Factory(),
                                           Temp.File(std::string("data-") + c.Where));
        const std::vector<TraceFrame> frames = SplitTrace(box.Written);
        const bool wrote = std::any_of(frames.begin(), frames.end(),
                                       [](const TraceFrame& f) { return f.Letter == 'w'; });
        if (c.Done) {
            EXPECT_TRUE(o.Success) << o.Message;
            EXPECT_EQ(box.Box.Target.Eeprom, copy);
            EXPECT_EQ(*(report.Lines.end() - 3),
                      "the stop came while the eeprom was being written; the restore was "
                      "finished and verified first");
            EXPECT_EQ(report.Lines.back(), "done without any problem.");
        } else {
            EXPECT_EQ(o.Code, errAborted);
            EXPECT_FALSE(o.DeviceTouched);
            EXPECT_FALSE(wrote);
            EXPECT_EQ(box.Box.Target.Eeprom, before);
            EXPECT_EQ(report.Lines.back(), Aborted);
        }
    }
}
