// The report over the station's ledger: the figures against a hand count, and its three forms.
#include <gtest/gtest.h>

#include "ledger/LedgerReport.h"
#include "ledger/ReportOutput.h"
#include "ledger/SqliteLedger.h"
#include "tests/ledger/LedgerSamples.h"
#include "tests/support/TempFolder.h"

namespace {
TEST(Report, FiguresAsCountedByHand) {
    TempFolder folder;
    SqliteLedger ledger(LocalLedgerPath(folder.Path));
    ledger.InsertAll(HandCountedRuns(), false);
    ExpectHandCountedReport(ledger);
}

TEST(Report, AnEmptyLedgerHasNoGroups) {
    TempFolder folder;
    SqliteLedger ledger(LocalLedgerPath(folder.Path));
    const Report report = BuildReport(ledger, {});
    EXPECT_TRUE(report.Groups.empty());
    EXPECT_EQ(report.Total.Runs, 0);
    EXPECT_FALSE(report.Total.MedianSeconds);
    EXPECT_EQ(ReportText(report), "report by day, all runs (days in UTC)\nno runs\n");
}

// Two boards on one socket: one done at once, one after a failure.
Report SmallReport(ReportGrouping by) {
    TempFolder folder;
    SqliteLedger ledger(LocalLedgerPath(folder.Path));
    std::vector<LedgerRecord> runs;
    for (int n = 1; n <= 3; ++n) {
        LedgerRecord r = SampleRecord(n);
        r.Station = "bench, \"north\"";
        r.Serial = n == 1 ? "A" : "B";
        r.Seconds = 40 + n;
        if (n == 2) {
            r.Code = 9;
            r.Outcome = "Unable to enter programming mode.";
            r.Cause = LedgerCause::TargetLost;
        }
        runs.push_back(r);
    }
    ledger.InsertAll(runs, false);
    ReportRequest request;
    request.By = by;
    request.Since = At("2026-03-02T00:00:00.000Z");
    return BuildReport(ledger, request);
}

TEST(Report, TextCsvAndJson) {
    EXPECT_EQ(ReportText(SmallReport(ReportGrouping::Station)),
              "report by station, runs started from 2026-03-02T00:00:00.000Z\n"
              "station         runs  done  failed  boards  yield  first pass  median s  p95 s"
              "  most frequent failures\n"
              "bench, \"north\"     3     2       1       2  66.7%       50.0%      42.0   43.0"
              "  1x 9 Unable to enter programming mode. (target lost)\n"
              "(all)              3     2       1       2  66.7%       50.0%      42.0   43.0"
              "  1x 9 Unable to enter programming mode. (target lost)\n");
    EXPECT_EQ(ReportCsv(SmallReport(ReportGrouping::Station)),
              "station,runs,done,failed,boards,yield,first_pass_yield,median_seconds,p95_seconds,"
              "failures\r\n"
              "\"bench, \"\"north\"\"\",3,2,1,2,0.6667,0.5000,42.000,43.000,"
              "1x 9 Unable to enter programming mode. (target lost)\r\n"
              "(all),3,2,1,2,0.6667,0.5000,42.000,43.000,"
              "1x 9 Unable to enter programming mode. (target lost)\r\n");
    EXPECT_EQ(ReportJson(SmallReport(ReportGrouping::Day)), R"({
  "by": "day",
  "since": "2026-03-02T00:00:00.000Z",
  "until": null,
  "groups": [
    {
      "group": "2026-03-02",
      "runs": 3,
      "done": 2,
      "failed": 1,
      "boards": 2,
      "yield": 0.6666666666666666,
      "first_pass_yield": 0.5,
      "median_seconds": 42.0,
      "p95_seconds": 43.0,
      "failures": [
        {
          "code": 9,
          "outcome": "Unable to enter programming mode.",
          "cause": "target lost",
          "count": 1
        }
      ]
    }
  ],
  "total": {
    "group": "all",
    "runs": 3,
    "done": 2,
    "failed": 1,
    "boards": 2,
    "yield": 0.6666666666666666,
    "first_pass_yield": 0.5,
    "median_seconds": 42.0,
    "p95_seconds": 43.0,
    "failures": [
      {
        "code": 9,
        "outcome": "Unable to enter programming mode.",
        "cause": "target lost",
        "count": 1
      }
    ]
  }
}
)");
}
}  // namespace
