#include "tests/ledger/LedgerSamples.h"

#include <gtest/gtest.h>

#include "ledger/LedgerColumns.h"
#include "ledger/LedgerReport.h"
#include "ledger/ReportOutput.h"
#include "ledger/UtcTime.h"

LedgerClock::time_point At(const std::string& utc) {
    return *ParseUtcText(utc);
}

LedgerRecord SampleRecord(int n) {
    LedgerRecord r;
    char id[40];
    std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", n);
    r.RunId = id;
    r.Station = "bench-" + std::to_string(n % 3);
    r.Operator = "anna";
    r.Operation = LedgerOperation::Program;
    r.ProgramVersion = "1.0.0.1";
    r.Catalogue = "/usr/lib/q40prog/Q40Prog.INI";
    r.CatalogueSha256 = std::string(64, 'c');
    r.ItemNumber = 7;
    r.ItemName = "Q40 Basic, Rev. \"B\"";
    r.Firmware = "/usr/lib/q40prog/Firmware/q40basic.hex";
    r.FirmwareSha256 = std::string(64, 'f');
    r.FirmwareId = "AB3+1";
    r.FirmwarePattern = "AB?+?";
    r.ImageLength = 61440;
    r.CheckValue = 0xBEEF;
    r.Chip = "ATmega644P";
    r.Signature = "1E 96 0A";
    r.Started = At("2026-03-02T08:00:00.000Z") + std::chrono::seconds(n);
    r.Ended = r.Started + std::chrono::milliseconds(41234);
    r.Seconds = 41.234;
    r.Phases = {0.512, 0.25, 1.125, 0.5, 2.75, 36.0};
    r.Code = 0;
    r.Outcome = LedgerDone;
    r.Detail = "line one; line 'two'";
    r.Cause = "";
    r.DeviceTouched = true;
    r.FusesWritten = "Lo=0xE2 Hi=0x99";
    r.Retries = 2;
    r.EepromCopy = "/data/eeprom/eeprom-ATmega644P-ttyUSB0-" + std::to_string(n) + ".bin";
    r.EepromSaved = r.EepromCopy;
    r.Log = "/data/logs/run-" + std::to_string(n) + ".log";
    r.Serial = "SN-" + std::to_string(n);
    r.Port = "/dev/ttyUSB0";
    return r;
}

void ExpectSameRecord(const LedgerRecord& a, const LedgerRecord& b) {
    for (const LedgerColumn& c : LedgerColumns()) EXPECT_EQ(c.Get(a), c.Get(b)) << c.Name;
}

namespace {
const char* const Verify = "Flash programm error!";
const char* const ProgMode = "Unable to enter programming mode.";
const char* const NoBox = "Programmer not connected.";

LedgerRecord Run(int n, const std::string& started, const std::string& station,
                 const std::string& port, int item, const std::string& serial, int code,
                 const std::string& cause, double seconds,
                 const char* operation = LedgerOperation::Station) {
    LedgerRecord r = SampleRecord(n);
    r.Operation = operation;
    r.Started = At(started);
    r.Seconds = seconds;
    r.Ended = r.Started + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    r.Station = station;
    r.Port = port;
    r.ItemNumber = item;
    r.ItemName = item == 3 ? "Q40 Basic" : "Q40 Pro";
    r.Operator = station == "bench-1" ? "anna" : "ben";
    r.Chip = item == 3 ? "ATmega644P" : "ATmega1284P";
    r.Serial = serial;
    r.Code = code;
    r.Outcome = code == 0 ? LedgerDone : code == 11 ? Verify : code == 9 ? ProgMode : NoBox;
    r.Cause = cause;
    return r;
}
}  // namespace

// Run  day         station  port     item serial code  seconds
//  1   03-02 08:00 bench-1  ttyUSB0   3   S1     11 vm  30
//  2   03-02 08:01 bench-1  ttyUSB0   3   S1      0     40   S1 passes at its second run
//  3   03-02 08:02 bench-1  ttyUSB1   3   S2      0     42
//  4   03-02 08:03 bench-2  ttyUSB0  12   -       0     50
//  5   03-02 08:04 bench-2  ttyUSB0  12   -       9 tl   5
//  6   03-02 08:05 bench-2  ttyUSB1  12   S3      4 bs   1
//  7   03-02 08:06 bench-1  ttyUSB0   restore-eeprom, done: not counted
//  8   03-03 09:00 bench-2  ttyUSB1  12   S3      0     48   S3 passes on the next day
//  9   03-03 09:01 bench-1  ttyUSB1   3   S4     11 vm  31
// 10   03-03 09:02 bench-1  ttyUSB1   3   S4     11 vm  32
// 11   03-03 09:03 bench-1  ttyUSB0   3   S5      0     44
// 12   03-03 09:04 bench-1  ttyUSB0   3   -       0     46
// 13   03-03 09:05 bench-2  ttyUSB0  12   -       9 tl   6
// 14   03-03 23:59:59.999 bench-2 ttyUSB0 12 -    0     52   the last millisecond of the day
// 15   03-04 00:00 bench-2  ttyUSB0  12   -       0     54
// 16   03-03 10:00 bench-1  ttyUSB0   read, failed: not counted
std::vector<LedgerRecord> HandCountedRuns() {
    const std::string vm = "verify mismatch", tl = "target lost", bs = "box silent";
    const std::string u0 = "/dev/ttyUSB0", u1 = "/dev/ttyUSB1";
    return {
        Run(1, "2026-03-02T08:00:00.000Z", "bench-1", u0, 3, "S1", 11, vm, 30),
        Run(2, "2026-03-02T08:01:00.000Z", "bench-1", u0, 3, "S1", 0, "", 40),
        Run(3, "2026-03-02T08:02:00.000Z", "bench-1", u1, 3, "S2", 0, "", 42),
        Run(4, "2026-03-02T08:03:00.000Z", "bench-2", u0, 12, "", 0, "", 50),
        Run(5, "2026-03-02T08:04:00.000Z", "bench-2", u0, 12, "", 9, tl, 5),
        Run(6, "2026-03-02T08:05:00.000Z", "bench-2", u1, 12, "S3", 4, bs, 1),
        Run(7, "2026-03-02T08:06:00.000Z", "bench-1", u0, 3, "S1", 0, "", 3,
            LedgerOperation::RestoreEeprom),
        Run(8, "2026-03-03T09:00:00.000Z", "bench-2", u1, 12, "S3", 0, "", 48),
        Run(9, "2026-03-03T09:01:00.000Z", "bench-1", u1, 3, "S4", 11, vm, 31),
        Run(10, "2026-03-03T09:02:00.000Z", "bench-1", u1, 3, "S4", 11, vm, 32),
        Run(11, "2026-03-03T09:03:00.000Z", "bench-1", u0, 3, "S5", 0, "", 44),
        Run(12, "2026-03-03T09:04:00.000Z", "bench-1", u0, 3, "", 0, "", 46),
        Run(13, "2026-03-03T09:05:00.000Z", "bench-2", u0, 12, "", 9, tl, 6),
        Run(14, "2026-03-03T23:59:59.999Z", "bench-2", u0, 12, "", 0, "", 52),
        Run(15, "2026-03-04T00:00:00.000Z", "bench-2", u0, 12, "", 0, "", 54),
        Run(16, "2026-03-03T10:00:00.000Z", "bench-1", u0, 3, "S9", 11, vm, 2,
            LedgerOperation::Read),
    };
}

namespace {
struct Expected {
    std::string Key;
    int64_t Runs, Done, Failed, Boards, FirstPassDone;
    double Median, P95;
    std::string Failures;
};

void ExpectGroups(ISqlSource& ledger, const ReportRequest& request,
                  const std::vector<Expected>& expected, const Expected& total) {
    const Report report = BuildReport(ledger, request);
    const std::string by = GroupingName(request.By);
    ASSERT_EQ(report.Groups.size(), expected.size()) << by;
    std::vector<std::pair<const ReportGroup*, const Expected*>> pairs;
    for (std::size_t i = 0; i < expected.size(); ++i)
        pairs.emplace_back(&report.Groups[i], &expected[i]);
    pairs.emplace_back(&report.Total, &total);
    for (const auto& [g, e] : pairs) {
        const std::string where = by + " " + e->Key;
        EXPECT_EQ(g->Key, e->Key) << where;
        EXPECT_EQ(g->Runs, e->Runs) << where;
        EXPECT_EQ(g->Done, e->Done) << where;
        EXPECT_EQ(g->Failed, e->Failed) << where;
        EXPECT_EQ(g->Boards, e->Boards) << where;
        EXPECT_EQ(g->FirstPassDone, e->FirstPassDone) << where;
        ASSERT_TRUE(g->MedianSeconds && g->P95Seconds) << where;
        EXPECT_DOUBLE_EQ(*g->MedianSeconds, e->Median) << where;
        EXPECT_DOUBLE_EQ(*g->P95Seconds, e->P95) << where;
        EXPECT_EQ(FailuresText(*g), e->Failures) << where;
    }
}
}  // namespace

void ExpectHandCountedReport(ISqlSource& ledger) {
    const std::string v1 = "1x 11 Flash programm error! (verify mismatch)";
    const std::string v2 = "2x 11 Flash programm error! (verify mismatch)";
    const std::string v3 = "3x 11 Flash programm error! (verify mismatch)";
    const std::string t1 = "1x 9 Unable to enter programming mode. (target lost)";
    const std::string t2 = "2x 9 Unable to enter programming mode. (target lost)";
    const std::string b1 = "1x 4 Programmer not connected. (box silent)";
    // 14 runs of 11 boards (S1..S5 and six without a serial); done at 40 42 44 46 48 50 52
    // 54 s: median (46 + 48) / 2, the 95th percentile at rank ceil(7.6) = 8.
    const Expected all = {"all", 14, 8, 6, 11, 6, 47, 54, v3 + "; " + t2 + "; " + b1};

    ReportRequest r;
    r.By = ReportGrouping::Day;
    ExpectGroups(ledger, r,
                 {// S1 S2 S3 and runs 4 5 are first tried here, S2 and run 4 pass at once.
                  {"2026-03-02", 6, 3, 3, 5, 2, 42, 50, b1 + "; " + t1 + "; " + v1},
                  // S3 is no new board here; S4 S5 and runs 12 13 14 are.
                  {"2026-03-03", 7, 4, 3, 5, 3, 47, 52, v2 + "; " + t1},
                  {"2026-03-04", 1, 1, 0, 1, 1, 54, 54, ""}},
                 all);
    r.By = ReportGrouping::Station;
    ExpectGroups(ledger, r,
                 {{"bench-1", 7, 4, 3, 5, 3, 43, 46, v3},
                  {"bench-2", 7, 4, 3, 6, 3, 51, 54, t2 + "; " + b1}},
                 all);
    r.By = ReportGrouping::Port;
    ExpectGroups(ledger, r,
                 {{"bench-1:/dev/ttyUSB0", 4, 3, 1, 3, 2, 44, 46, v1},
                  {"bench-1:/dev/ttyUSB1", 3, 1, 2, 2, 1, 42, 42, v2},
                  {"bench-2:/dev/ttyUSB0", 5, 3, 2, 5, 3, 52, 54, t2},
                  {"bench-2:/dev/ttyUSB1", 2, 1, 1, 1, 0, 48, 48, b1}},
                 all);
    r.By = ReportGrouping::Item;  // 3 before 12: by number, not by text
    ExpectGroups(ledger, r,
                 {{"3 Q40 Basic", 7, 4, 3, 5, 3, 43, 46, v3},
                  {"12 Q40 Pro", 7, 4, 3, 6, 3, 51, 54, t2 + "; " + b1}},
                 all);
    r.By = ReportGrouping::Operator;
    ExpectGroups(
        ledger, r,
        {{"anna", 7, 4, 3, 5, 3, 43, 46, v3}, {"ben", 7, 4, 3, 6, 3, 51, 54, t2 + "; " + b1}}, all);

    // Only the second day: S3's first run in the report is now its pass.
    r.By = ReportGrouping::Day;
    r.Since = At("2026-03-03T00:00:00.000Z");
    r.Until = At("2026-03-04T00:00:00.000Z");
    ExpectGroups(ledger, r, {{"2026-03-03", 7, 4, 3, 6, 4, 47, 52, v2 + "; " + t1}},
                 {"all", 7, 4, 3, 6, 4, 47, 52, v2 + "; " + t1});
    // From the second day on: done at 44 46 48 52 54 s, an odd count: the median is rank 3,
    // the 95th percentile rank ceil(4.75) = 5.
    r.Until.reset();
    ExpectGroups(ledger, r,
                 {{"2026-03-03", 7, 4, 3, 6, 4, 47, 52, v2 + "; " + t1},
                  {"2026-03-04", 1, 1, 0, 1, 1, 54, 54, ""}},
                 {"all", 8, 5, 3, 7, 5, 48, 54, v2 + "; " + t1});
}
