// The EEPROM promise over every point of an update, against the in-process box. A unit with
// data of its own is updated, and the update is stopped at every log line and at a sample of
// progress calls, or the box vanishes after a sample of bytes (its port gone, or the box
// silent), or the program faults there. After each, what a person does next: the same update
// again, a station with the board still on, or fresh boards of the same chip put on before
// the unit comes back. After every run:
// - the unit's EEPROM is in its device or in a pending copy, and the runs that follow put it
//   back into that unit;
// - no device ever holds another unit's bytes;
// - the outcome, the exit code, the record and the log say that the device was touched
//   exactly when the run set out to send it a write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "cli/ConsoleReport.h"
#include "cli/PortRunReport.h"
#include "cli/ResultTable.h"
#include "cli/StopSignals.h"
#include "cli/UpdateRequest.h"
#include "link/Clock.h"
#include "programming/DataFolder.h"
#include "programming/EepromCopy.h"
#include "programming/PendingCopies.h"
#include "sim/BoxModel.h"
#include "sim/SimPort.h"
#include "tests/support/DataFolderEnv.h"
#include "tests/support/RecordingReport.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestData.h"
#include "tests/support/Trace.h"

namespace fs = std::filesystem;

namespace {
constexpr std::size_t Block = 32;
constexpr uint8_t OldFlash = 0x00;
const char* const Port = "ttySIM0";
const char* const Chip = "ATmega644P";

// Every board of the product carries this block first; a fresh board may hold it alone.
const std::string Header = "KARDO Q40 EEPROM LAYOUT 3 ......";

std::vector<uint8_t> HeaderOnly(std::size_t size) {
    std::vector<uint8_t> e(size, 0xFF);
    std::copy(Header.begin(), Header.end(), e.begin());
    return e;
}

// The header, the unit's tables with blank blocks among them, its serial number at 0x400.
std::vector<uint8_t> UnitEeprom(std::size_t size, unsigned unit) {
    std::vector<uint8_t> e = HeaderOnly(size);
    const std::vector<uint8_t> data = RandomBytes(size, unit);
    for (const std::size_t b : {1u, 2u, 4u, 5u, 6u, 9u})
        std::copy(data.begin() + static_cast<long>(b * Block),
                  data.begin() + static_cast<long>((b + 1) * Block),
                  e.begin() + static_cast<long>(b * Block));
    const std::string serial = "CAL-" + std::to_string(unit) + "-0123456789";
    std::copy(serial.begin(), serial.end(), e.begin() + 0x400);
    return e;
}

// The line to the box, which can go after a given number of bytes: the box's port gone (every
// call fails from then on), the box without power (bytes go nowhere, nothing answers), or a
// fault inside the program there (the write throws, as a library or a full memory may; the
// box hears nothing more).
struct Line {
    enum Kind { PortGone, BoxSilent, Fault };
    long long CutAfter = -1;  // bytes that reach the box before the line goes; -1: never
    Kind How = PortGone;
    std::vector<uint8_t> Delivered;
    bool Gone = false;
    // What the run had set out to send when the line went: the bytes delivered and the rest
    // of the write they ended in.
    std::size_t Attempted = 0;
};

class CutPort : public SimPort {
public:
    CutPort(BoxModel& box, Line& line) : SimPort(box), Wire(line) {}

    bool Write(const uint8_t* src, std::size_t count) override {
        if (Wire.Gone) return AfterCut(src, count);
        std::size_t room = count;
        if (Wire.CutAfter >= 0)
            room = std::min<std::size_t>(
                count, static_cast<std::size_t>(Wire.CutAfter) - Wire.Delivered.size());
        if (room > 0) {
            SimPort::Write(src, room);
            Wire.Delivered.insert(Wire.Delivered.end(), src, src + room);
        }
        Wire.Attempted = Wire.Delivered.size();
        if (room == count) return true;
        Wire.Gone = true;
        Wire.Attempted += count - room;
        if (Wire.How == Line::PortGone) {
            FailWriteAfter = 0;
            FailReadAfter = BytesRead;
        }
        if (Wire.How == Line::Fault) throw std::runtime_error("injected fault");
        return AfterCut(src + room, count - room);
    }

    bool Read(uint8_t* dest, std::size_t count, std::size_t& received) override {
        if (Wire.Gone && Wire.How != Line::PortGone) {
            received = 0;
            return true;
        }
        return SimPort::Read(dest, count, received);
    }

private:
    bool AfterCut(const uint8_t* src, std::size_t count) {
        return Wire.How != Line::PortGone || SimPort::Write(src, count);
    }
    Line& Wire;
};

// The box with a board on it.
struct Bench {
    explicit Bench(const TargetModel& board) : Box(BoxConfig{}) { Box.Target = board; }
    LinkFactory Factory() {
        return [this] {
            return std::make_unique<TIspLink>(std::make_unique<CutPort>(Box, Wire), Clock);
        };
    }
    BoxModel Box;
    FakeClock Clock;
    Line Wire;
};

// A run's report whose question about a pending copy is answered as the command line or
// the station answers it.
struct BenchReport : RecordingReport {
    void Log(const std::string& line) override {
        RecordingReport::Log(line);
        NoteStop();
    }
    bool Progress(int32_t position, int32_t total, ProgressPhase phase) override {
        const bool stop = RecordingReport::Progress(position, total, phase);
        NoteStop();
        return stop;
    }
    void NoteStop() {
        if (Stopping && LinesAtStop < 0) LinesAtStop = static_cast<int>(Lines.size());
    }
    // Whether the stop was asked for before the run said it erases.
    bool StoppedBeforeErase() const {
        const auto erase = std::find(Lines.begin(), Lines.end(), "erasing chip");
        return LinesAtStop >= 0 && erase - Lines.begin() >= LinesAtStop;
    }
    int LinesAtStop = -1;
    std::function<EepromAnswer(const EepromQuestion&)> Answering;
    EepromAnswer AskAboutEeprom(const EepromQuestion& q) override {
        Questions.push_back(q);
        return Answering(q);
    }
};

// One update as a person starts it.
struct Start {
    bool Station = false;  // station: its answers; else program with these options
    bool KeepDevice = false;
    std::string UseCopy = {};
};

// A fuse or lock write, the erase, an EEPROM block, a flash block or page. (0xAC 0x53 is the
// programming enable.)
bool IsWrite(const TraceFrame& f) {
    if (f.Letter == 'w' || f.Letter == 'W' || f.Letter == 'S') return true;
    if (f.Letter != 'I' || f.Tail.size() < 2 || f.Tail[0] != 0xAC) return false;
    const uint8_t what = f.Tail[1];
    return what == 0x80 || what == 0xE0 || (what & 0xF0) == 0xA0;
}

// Whether any frame that begins before byte 'end' of 'frames' (the whole trace of a run whose
// beginning was sent) is a write.
bool WriteBegunBefore(const std::vector<uint8_t>& trace, std::size_t end) {
    std::size_t offset = 0;
    for (const TraceFrame& f : SplitTrace(trace)) {
        if (offset >= end) break;
        if (IsWrite(f)) return true;
        offset += 1 + f.Tail.size();
    }
    return false;
}

bool SameTarget(const TargetModel& a, const TargetModel& b) {
    return a.Eeprom == b.Eeprom && a.Flash == b.Flash && a.FuseLo == b.FuseLo &&
           a.FuseHi == b.FuseHi && a.FuseEx == b.FuseEx && a.LockBits == b.LockBits &&
           a.ChipErases == b.ChipErases;
}

// Every block blank or the board's own.
bool OnlyOwnBytes(const std::vector<uint8_t>& device, const std::vector<uint8_t>& own) {
    for (std::size_t at = 0; at + Block <= device.size(); at += Block) {
        const auto block = device.begin() + static_cast<long>(at);
        const bool blank = std::all_of(block, block + Block, [](uint8_t b) { return b == 0xFF; });
        if (!blank && !std::equal(block, block + Block, own.begin() + static_cast<long>(at)))
            return false;
    }
    return true;
}

void CopyFolder(const std::string& from, const std::string& to) {
    fs::remove_all(to);
    fs::copy(from, to, fs::copy_options::recursive);
    // The verdict on a device weighs when copies were saved: the files keep their times.
    for (const auto& entry : fs::recursive_directory_iterator(from))
        if (!entry.is_directory())
            fs::last_write_time(to + "/" + fs::relative(entry.path(), from).string(),
                                entry.last_write_time());
}

// The runs write their files durably: the folder is in memory where the system has one.
struct MemoryFolder : TempFolder {
    MemoryFolder() {
#ifndef _WIN32
        std::error_code ec;
        if (!fs::is_directory("/dev/shm", ec)) return;
        std::string pattern = "/dev/shm/q40test-XXXXXX";
        if (!mkdtemp(pattern.data())) return;
        fs::remove_all(Path, ec);
        Path = pattern;
#endif
    }
};

struct EepromModel : ::testing::Test {
    EepromModel() {
        PointDataFolderAt(Temp.File("xdg"));
        Data = DefaultDataFolder();
        const std::vector<uint8_t> image = RandomBytes(0x600, 41);
        std::ofstream(Temp.File("fw.bin"), std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
    }

    TargetModel Board(const std::vector<uint8_t>& eeprom) const {
        TargetModel t(ChipByName(Chip));
        t.Eeprom = eeprom;
        t.Flash.assign(t.Flash.size(), OldFlash);
        return t;
    }

    RunOutcome Update(Bench& bench, BenchReport& report, const Start& start) {
        UpdateRequest request;
        request.Ports = {Port};
        request.Values.FirmwarePath = Temp.File("fw.bin");
        request.Values.FuseLo = "$E2";
        request.Values.FuseHi = FuseHi;
        request.KeepDeviceEeprom = start.KeepDevice;
        request.UseEepromCopy = start.UseCopy;
        if (start.Station)
            report.Answering = StationAnswer;
        else
            report.Answering = [keep = start.KeepDevice](const EepromQuestion& q) {
                return AnswerFromOptions(q, keep);
            };
        const PortUpdate u = UpdateDevice(request, Port, report, bench.Factory(), Stop);
        EXPECT_TRUE(u.Ran);
        return u.Outcome;
    }

    // Copies pending for the chip whose file holds these bytes.
    std::vector<std::string> PendingHolding(const std::vector<uint8_t>& bytes) {
        std::vector<PendingCopy> marks;
        EXPECT_EQ(ReadPendingCopies(Data, marks), 0);
        std::vector<std::string> holding;
        for (const PendingCopy& m : marks)
            if (m.Chip == Chip && LoadEepromCopy(m.Path) == bytes) holding.push_back(m.Path);
        return holding;
    }

    nlohmann::json LastRecord() {
        std::ifstream in(Data + "/runs.jsonl");
        std::string line, last;
        while (std::getline(in, line)) last = line;
        return nlohmann::json::parse(last);
    }

    // What every run must say truly, given what it set out to send ('trace' up to byte
    // 'attempted') and what the device went through.
    void CheckClaims(const RunOutcome& o, const BenchReport& report, const TargetModel& before,
                     const TargetModel& after, const std::vector<uint8_t>& trace,
                     std::size_t attempted) {
        const bool wrote = WriteBegunBefore(trace, attempted);
        EXPECT_EQ(o.DeviceTouched, wrote);
        if (!SameTarget(before, after)) {
            EXPECT_TRUE(o.DeviceTouched) << "changed, said untouched";
        }
        EXPECT_EQ(ExitCodeOf(o), o.Success ? 0 : (wrote ? 3 : 1));
        const nlohmann::json record = LastRecord();
        EXPECT_EQ(record["device_touched"], wrote);
        EXPECT_EQ(record["code"], o.Success ? 0 : o.Code);
        const bool saysNeeds = std::any_of(report.Lines.begin(), report.Lines.end(), [](auto& l) {
            return l.rfind("the device needs another update", 0) == 0;
        });
        EXPECT_EQ(saysNeeds, !o.Success && wrote);
        EXPECT_EQ(report.Ends, 1);
    }

    // One update of the board on the bench, without faults, checked.
    RunOutcome Run(TargetModel& board, const Start& start, BenchReport& report) {
        Bench bench(board);
        const RunOutcome o = Update(bench, report, start);
        CheckClaims(o, report, board, bench.Box.Target, bench.Wire.Delivered,
                    bench.Wire.Delivered.size());
        board = bench.Box.Target;
        return o;
    }

    // The unit's EEPROM is in its board or pending.
    void CheckUnitKept(const TargetModel& board) {
        EXPECT_TRUE(board.Eeprom == Unit || !PendingHolding(Unit).empty())
            << "the unit's eeprom is neither in its device nor pending";
    }

    // A person with the unit's board goes on as the runs tell: program again, and where a
    // run stops to ask about copies, again with the one that holds this unit's EEPROM (they
    // know their unit). The unit ends with its EEPROM whole.
    void Settle(TargetModel board) {
        Start start;
        RunOutcome o;
        for (int attempt = 0; attempt < 3 && !o.Success; ++attempt) {
            BenchReport report;
            o = Run(board, start, report);
            EXPECT_TRUE(OnlyOwnBytes(board.Eeprom, Unit));
            CheckUnitKept(board);
            start = {};
            if (o.Code == errEepromUndecided && !report.Questions.empty()) {
                for (const PendingCopy& c : report.Questions.back().Candidates)
                    if (LoadEepromCopy(c.Path) == Unit) start.UseCopy = c.Path;
                EXPECT_FALSE(start.UseCopy.empty()) << "the unit's copy is not among those named";
            }
        }
        EXPECT_TRUE(o.Success) << o.Message << " " << o.Detail;
        EXPECT_EQ(board.Eeprom, Unit);
    }

    // Fresh boards of the chip come on first: a blank one at a station, one with the header
    // alone through program. Neither gets the unit's bytes, and the unit's copy stays for it.
    void FreshBoardsThenUnit(const TargetModel& unitBoard) {
        TargetModel blank = Board(std::vector<uint8_t>(Unit.size(), 0xFF));
        BenchReport atStation;
        EXPECT_TRUE(Run(blank, Start{true}, atStation).Success) << atStation.FailedText;
        EXPECT_EQ(blank.Eeprom, std::vector<uint8_t>(Unit.size(), 0xFF));
        CheckUnitKept(unitBoard);

        TargetModel headed = Board(HeaderOnly(Unit.size()));
        BenchReport first;
        RunOutcome o = Run(headed, Start{}, first);
        if (o.Code == errEepromUndecided) {
            BenchReport again;
            o = Run(headed, Start{false, true}, again);
        }
        EXPECT_TRUE(o.Success) << o.Message << " " << o.Detail;
        EXPECT_EQ(headed.Eeprom, HeaderOnly(Unit.size()));
        CheckUnitKept(unitBoard);
        Settle(unitBoard);
    }

    // What a person does after the interrupted update, each from the state it left.
    void NextSteps(const TargetModel& unitBoard, const std::string& left) {
        {
            SCOPED_TRACE("program again");
            Settle(unitBoard);
        }
        {
            SCOPED_TRACE("station with the board still on");
            CopyFolder(left, Data);
            TargetModel board = unitBoard;
            BenchReport report;
            Run(board, Start{true}, report);
            EXPECT_TRUE(OnlyOwnBytes(board.Eeprom, Unit));
            CheckUnitKept(board);
            Settle(board);
        }
        {
            SCOPED_TRACE("fresh boards, then the unit");
            CopyFolder(left, Data);
            FreshBoardsThenUnit(unitBoard);
        }
    }

    MemoryFolder Temp;
    std::string Data;
    std::string FuseHi = "0x99";
    std::vector<uint8_t> Unit;
    const StopSignals Stop;
};

struct Interruption {
    std::string Name;
    int StopAtLine = 0;
    int StopAtProgress = 0;
    long long CutAfter = -1;
    Line::Kind How = Line::PortGone;
};

std::vector<Interruption> Interruptions(int lines, int progressCalls,
                                        const std::vector<uint8_t>& trace) {
    std::vector<Interruption> all;
    for (int n = 1; n <= lines; ++n) all.push_back({"stop at log line " + std::to_string(n), n});
    const int stride = std::max(1, progressCalls / 16);
    for (int n = 1; n <= progressCalls; n += stride)
        all.push_back({"stop at progress call " + std::to_string(n), 0, n});
    all.push_back({"stop at the last progress call", 0, progressCalls});
    // Bytes spread over the run, and the first bytes of the fuse writes, the erase and every
    // EEPROM block, and the middle of those blocks.
    std::vector<long long> cuts;
    const auto total = static_cast<long long>(trace.size());
    for (long long n = 0; n < total; n += std::max<long long>(1, total / 40)) cuts.push_back(n);
    std::size_t offset = 0;
    for (const TraceFrame& f : SplitTrace(trace)) {
        const bool erase = f.Letter == 'I' && f.Tail.size() > 1 && f.Tail[1] == 0x80;
        if (erase || f.Letter == 'w' || (f.Letter == 'I' && IsWrite(f))) {
            cuts.push_back(static_cast<long long>(offset));
            cuts.push_back(static_cast<long long>(offset) + 1);
        }
        if (f.Letter == 'w') cuts.push_back(static_cast<long long>(offset) + 20);
        offset += 1 + f.Tail.size();
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    for (std::size_t i = 0; i < cuts.size(); ++i) {
        const Line::Kind how = i % 2 == 0 ? Line::PortGone : Line::BoxSilent;
        all.push_back({std::string(how == Line::PortGone ? "port gone" : "box silent") +
                           " after byte " + std::to_string(cuts[i]),
                       0, 0, cuts[i], how});
        if (i % 2 == 0)
            all.push_back({"fault inside the program after byte " + std::to_string(cuts[i]), 0, 0,
                           cuts[i], Line::Fault});
    }
    return all;
}
}  // namespace

TEST_F(EepromModel, NoPointOfAnUpdateCostsAUnitItsEepromOrGivesItAnothers) {
    // The EESAVE fuse programmed keeps the EEPROM through the erase: both ways.
    for (const char* fuseHi : {"0x99", "0xD1"}) {
        SCOPED_TRACE(std::string("high fuse ") + fuseHi);
        FuseHi = fuseHi;
        fs::remove_all(Data);
        const std::size_t size = static_cast<std::size_t>(ChipByName(Chip).EepromSize);
        Unit = UnitEeprom(size, 7);
        // Two other units were updated here before: their copies are what boards hold.
        for (const unsigned other : {8u, 9u}) {
            TargetModel board = Board(UnitEeprom(size, other));
            BenchReport report;
            ASSERT_TRUE(Run(board, Start{}, report).Success);
        }
        const std::string before = Temp.File("before");
        CopyFolder(Data, before);
        TargetModel unitBoard = Board(Unit);
        Bench good(unitBoard);
        BenchReport goodReport;
        ASSERT_TRUE(Update(good, goodReport, Start{}).Success);
        const std::vector<uint8_t> trace = good.Wire.Delivered;

        for (const Interruption& cut :
             Interruptions(static_cast<int>(goodReport.Lines.size()),
                           static_cast<int>(goodReport.Phases.size()), trace)) {
            SCOPED_TRACE(cut.Name);
            CopyFolder(before, Data);
            Bench bench(unitBoard);
            bench.Wire.CutAfter = cut.CutAfter;
            bench.Wire.How = cut.How;
            BenchReport report;
            report.StopAtLineNumber = cut.StopAtLine;
            report.StopAtProgressCall = cut.StopAtProgress;
            const RunOutcome o = Update(bench, report, Start{});
            // Up to the failure the run sent what the good run sent.
            ASSERT_TRUE(std::equal(
                bench.Wire.Delivered.begin(),
                bench.Wire.Delivered.begin() +
                    static_cast<long>(std::min(bench.Wire.Delivered.size(), bench.Wire.Attempted)),
                trace.begin()));
            const std::size_t attempted =
                bench.Wire.Gone ? bench.Wire.Attempted : bench.Wire.Delivered.size();
            CheckClaims(o, report, unitBoard, bench.Box.Target,
                        bench.Wire.Gone ? trace : bench.Wire.Delivered, attempted);
            if (cut.StopAtLine || cut.StopAtProgress) {
                // A stop never leaves the EEPROM behind.
                EXPECT_EQ(bench.Box.Target.Eeprom, Unit);
                EXPECT_TRUE(PendingHolding(Unit).empty());
                // Asked for before the erase, it keeps the erase from happening.
                if (report.StoppedBeforeErase()) {
                    EXPECT_EQ(bench.Box.Target.ChipErases, 0);
                }
            }
            EXPECT_TRUE(OnlyOwnBytes(bench.Box.Target.Eeprom, Unit));
            CheckUnitKept(bench.Box.Target);
            const std::string left = Temp.File("left");
            CopyFolder(Data, left);
            NextSteps(bench.Box.Target, left);
            if (HasFailure()) return;  // one interruption's story is enough to read
        }
    }
}
