// The floor's ledger on a real PostgreSQL server (a private cluster shared by this program's
// tests): records in both ledgers, a server that goes away and comes back, a login refused, a
// server that never answers, schemas of other versions, and the report in both engines.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "ledger/FloorLedger.h"
#include "ledger/LedgerColumns.h"
#include "ledger/LedgerError.h"
#include "ledger/LedgerReport.h"
#include "ledger/LedgerWriter.h"
#include "ledger/SqliteLedger.h"
#include "tests/ledger/LedgerSamples.h"
#include "tests/support/PostgresCluster.h"
#include "tests/support/TempFolder.h"

namespace {
class FloorLedgerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Cluster.Ok()) << Cluster.Problem();
        Url = Cluster.NewDatabase();
        ASSERT_TRUE(Cluster.Ok()) << Cluster.Problem();
        Database = Url.substr(Url.rfind('/') + 1);
    }
    // psql's answer, as an independent look at what the server holds.
    std::string Sql(const std::string& sql) { return Cluster.Sql(Database, sql); }
    std::string Rows() { return Sql("SELECT COUNT(*) FROM runs"); }

    PostgresCluster& Cluster = SharedCluster();
    TempFolder Station;
    std::string Url, Database;
};

TEST_F(FloorLedgerTest, EveryRecordGoesToBothLedgersWithEveryField) {
    const LedgerWriter writer({Station.Path, Url});
    std::vector<LedgerRecord> records;
    for (int n = 1; n <= 3; ++n) {
        LedgerRecord r = SampleRecord(n);
        r.Cause = n == 2 ? LedgerCause::BoxSilent : "";
        r.Detail = "quotes ' and \" and a backslash \\ stay";
        records.push_back(r);
        EXPECT_EQ(writer.Keep(r), std::nullopt);
    }
    EXPECT_EQ(Rows(), "3");
    EXPECT_EQ(SqliteLedger(writer.LocalPath()).UnsentCount(), 0u);
    FloorLedger floor(Url, FloorTimeoutSeconds, FloorLedger::Use::Read);
    const std::vector<LedgerRecord> back = ReadRecords(floor, "ORDER BY started", {});
    ASSERT_EQ(back.size(), 3u);
    for (std::size_t i = 0; i < back.size(); ++i) ExpectSameRecord(back[i], records[i]);
    // Typed as a floor's engineer would query them.
    EXPECT_EQ(Sql("SELECT to_char(started AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS.MS'), "
                  "device_touched, item_number + 1 FROM runs ORDER BY started LIMIT 1"),
              "2026-03-02 08:00:01.000|t|8");
}

TEST_F(FloorLedgerTest, AServerStoppedMidwayLosesNothingAndGetsEachRecordOnce) {
    const LedgerWriter writer({Station.Path, Url});
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(writer.Keep(SampleRecord(n)), std::nullopt);
    ASSERT_TRUE(Cluster.Stop()) << Cluster.Problem();
    for (int n = 4; n <= 7; ++n) {
        const auto message = writer.Keep(SampleRecord(n));
        ASSERT_TRUE(message);
        EXPECT_EQ(message->rfind("floor ledger not reached (postgresql://q40@127.0.0.1:", 0), 0u)
            << *message;
        EXPECT_NE(
            message->find(std::to_string(n - 3) + (n == 4 ? " record waits" : " records wait")),
            std::string::npos)
            << *message;
    }
    ASSERT_TRUE(Cluster.Start()) << Cluster.Problem();
    EXPECT_EQ(Rows(), "3");
    EXPECT_EQ(SqliteLedger(writer.LocalPath()).UnsentCount(), 4u);

    // The next run takes the waiting ones along.
    EXPECT_EQ(writer.Keep(SampleRecord(8)), std::nullopt);
    EXPECT_EQ(Rows(), "8");
    EXPECT_EQ(SqliteLedger(writer.LocalPath()).UnsentCount(), 0u);
    SyncResult sync = writer.Sync();
    EXPECT_TRUE(sync.Reached);
    EXPECT_EQ(sync.Sent, 0u);

    // A process killed between the floor's commit and the station's marks: the marks are
    // gone, the records go again, and the floor keeps each once.
    SqliteLedger(writer.LocalPath()).Execute("UPDATE runs SET sent = 0");
    sync = writer.Sync();
    EXPECT_EQ(sync.Sent, 0u);
    EXPECT_EQ(sync.Known, 8u);
    EXPECT_EQ(sync.Waiting, 0u);
    EXPECT_EQ(Rows(), "8");
    EXPECT_EQ(Sql("SELECT COUNT(DISTINCT run_id) FROM runs"), "8");
}

TEST_F(FloorLedgerTest, LedgerSyncSendsWhatWaitsInBatches) {
    {
        SqliteLedger local(LocalLedgerPath(Station.Path));
        std::vector<LedgerRecord> waiting;
        for (int n = 1; n <= 2500; ++n) waiting.push_back(SampleRecord(n));
        local.InsertAll(waiting, false);
    }
    const LedgerWriter writer({Station.Path, Url});
    const SyncResult sync = writer.Sync();
    EXPECT_EQ(sync.Problem, std::nullopt);
    EXPECT_EQ(sync.Sent, 2500u);
    EXPECT_EQ(sync.Waiting, 0u);
    EXPECT_EQ(Rows(), "2500");
}

TEST_F(FloorLedgerTest, AWrongPasswordIsSaidAndTheRecordWaits) {
    const std::string wrong = Cluster.Url(Database, "not-the-password");
    const LedgerWriter writer({Station.Path, wrong});
    const auto message = writer.Keep(SampleRecord(1));
    ASSERT_TRUE(message);
    EXPECT_NE(message->find("password authentication failed for user \"q40\""), std::string::npos)
        << *message;
    EXPECT_EQ(message->find("not-the-password"), std::string::npos) << *message;
    EXPECT_EQ(message->find('\n'), std::string::npos);
    EXPECT_EQ(SqliteLedger(writer.LocalPath()).UnsentCount(), 1u);

    const SyncResult sync = LedgerWriter({Station.Path, Url}).Sync();
    EXPECT_EQ(sync.Sent, 1u);
    EXPECT_EQ(Rows(), "1");
}

// A socket that takes the connection and never says a word: the run waits for the time-out
// and no longer.
TEST_F(FloorLedgerTest, AServerThatNeverAnswersHoldsTheRunUpOnlyForTheTimeOut) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    const std::string silent =
        "postgresql://q40:x@127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/ledger";
    const LedgerWriter writer({Station.Path, silent});
    const auto start = std::chrono::steady_clock::now();
    const auto message = writer.Keep(SampleRecord(1));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(listener);
    ASSERT_TRUE(message);
    EXPECT_NE(message->find("timeout expired"), std::string::npos) << *message;
    EXPECT_GE(seconds, FloorTimeoutSeconds - 0.5);
    EXPECT_LT(seconds, FloorTimeoutSeconds + 3.0);
    EXPECT_EQ(SqliteLedger(writer.LocalPath()).UnsentCount(), 1u);
}

// The floor ledger as the previous version of the program left it.
TEST_F(FloorLedgerTest, ASchemaOfAnOlderVersionIsBroughtUpToDateWithItsRecords) {
    const std::vector<SchemaStep>& steps = SchemaSteps(SqlEngine::Postgres);
    ASSERT_GE(steps.size(), 2u);
    const std::vector<SchemaStep> older(steps.begin(), steps.end() - 1);
    {
        FloorLedger old(Url, FloorTimeoutSeconds, FloorLedger::Use::Write, older);
        EXPECT_EQ(old.SchemaVersion(), LatestVersion(older));
        EXPECT_EQ(old.Send({SampleRecord(1), SampleRecord(2)}).Inserted, 2u);
    }
    const LedgerWriter writer({Station.Path, Url});
    EXPECT_EQ(writer.Keep(SampleRecord(3)), std::nullopt);
    EXPECT_EQ(Sql("SELECT version FROM ledger_schema"), std::to_string(LatestVersion(steps)));
    EXPECT_EQ(Rows(), "3");
    EXPECT_EQ(Sql("SELECT string_agg(indexname, ' ' ORDER BY indexname) FROM pg_indexes WHERE "
                  "tablename = 'runs' AND indexname LIKE 'runs_by_%'"),
              "runs_by_seconds runs_by_serial_pass runs_by_started");
}

TEST_F(FloorLedgerTest, ASchemaOfANewerVersionIsLeftAloneAndTheRecordWaits) {
    const LedgerWriter writer({Station.Path, Url});
    EXPECT_EQ(writer.Keep(SampleRecord(1)), std::nullopt);
    Sql("UPDATE ledger_schema SET version = 99");
    const auto message = writer.Keep(SampleRecord(2));
    ASSERT_TRUE(message);
    EXPECT_NE(message->find("the floor ledger has schema version 99, written by a newer Q40Prog"),
              std::string::npos)
        << *message;
    EXPECT_EQ(Rows(), "1");
    EXPECT_EQ(SqliteLedger(writer.LocalPath()).UnsentCount(), 1u);
    EXPECT_THROW(FloorLedger(Url, FloorTimeoutSeconds, FloorLedger::Use::Read), LedgerError);
}

// Several stations' first runs at the same moment on an empty database: one creates the
// schema, the others wait for it and find it.
TEST_F(FloorLedgerTest, StationsStartingTogetherCreateTheSchemaOnce) {
    std::vector<std::thread> stations;
    std::vector<std::optional<std::string>> messages(6);
    std::vector<TempFolder> folders(6);
    for (int s = 0; s < 6; ++s)
        stations.emplace_back([&, s] {
            messages[s] = LedgerWriter({folders[s].Path, Url}).Keep(SampleRecord(s + 1));
        });
    for (std::thread& t : stations) t.join();
    for (const auto& m : messages) EXPECT_EQ(m, std::nullopt) << *m;
    EXPECT_EQ(Rows(), "6");
    EXPECT_EQ(Sql("SELECT COUNT(*) FROM ledger_schema"), "1");
}

// A record the server cannot take (here a rule of the floor's own) stays in the station's
// ledger and holds back none of the others.
TEST_F(FloorLedgerTest, ARecordTheServerRefusesDoesNotBlockTheOthers) {
    const LedgerWriter writer({Station.Path, Url});
    EXPECT_EQ(writer.Keep(SampleRecord(1)), std::nullopt);
    Sql("ALTER TABLE runs ADD CONSTRAINT known_stations CHECK (station <> 'odd')");
    LedgerRecord odd = SampleRecord(2);
    odd.Station = "odd";
    const auto message = writer.Keep(odd);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->rfind("floor ledger refused 1 record (" + odd.RunId +
                                 ": ERROR: new row "
                                 "for relation \"runs\" violates check constraint",
                             0),
              0u)
        << *message;
    // The next run's record goes, with the refused one tried again.
    EXPECT_EQ(writer.Keep(SampleRecord(3)).value_or("").rfind("floor ledger refused 1 record", 0),
              0u);
    EXPECT_EQ(Rows(), "2");
    EXPECT_EQ(SqliteLedger(writer.LocalPath()).UnsentCount(), 1u);
    const SyncResult sync = writer.Sync();
    EXPECT_TRUE(sync.Reached);
    EXPECT_EQ(sync.Waiting, 1u);
    EXPECT_EQ(sync.Problem.value_or("").rfind("floor ledger refused 1 record", 0), 0u);
}

TEST_F(FloorLedgerTest, TheReportsFiguresAsCountedByHand) {
    FloorLedger floor(Url, FloorTimeoutSeconds);
    EXPECT_EQ(floor.Send(HandCountedRuns()).Inserted, HandCountedRuns().size());
    ExpectHandCountedReport(floor);
}

// The same runs in both engines give the same report, for every grouping.
TEST_F(FloorLedgerTest, BothEnginesGiveTheSameReport) {
    std::vector<LedgerRecord> runs;
    for (int n = 1; n <= 600; ++n) {
        LedgerRecord r = SampleRecord(n);
        r.Operation = n % 11 ? LedgerOperation::Station : LedgerOperation::Program;
        r.Started = At("2026-03-01T00:00:00.000Z") + std::chrono::minutes(n * 37);
        r.Station = "bench-" + std::to_string(n % 4);
        r.Port = "/dev/ttyUSB" + std::to_string(n % 3);
        r.ItemNumber = 1 + n % 5;
        r.ItemName = "Board " + std::to_string(r.ItemNumber);
        r.Firmware = "/fw/board" + std::to_string(r.ItemNumber) + ".hex";
        r.FirmwareSha256 = std::string(64, static_cast<char>('a' + n % 5));
        r.Chip = n % 2 ? "ATmega644P" : "ATmega1284P";
        r.Operator = n % 7 ? "anna" : "ben";
        r.Serial = n % 3 ? "SN" + std::to_string(n % 150) : "";
        r.Code = n % 9 == 0 ? 11 : n % 13 == 0 ? 9 : 0;
        r.Outcome = r.Code ? "failed " + std::to_string(r.Code) : LedgerDone;
        r.Cause = r.Code == 11 ? LedgerCause::VerifyMismatch
                  : r.Code     ? LedgerCause::TargetLost
                               : "";
        r.Seconds = 30 + (n * 7919 % 200) / 10.0;
        runs.push_back(r);
    }
    SqliteLedger local(LocalLedgerPath(Station.Path));
    local.InsertAll(runs, true);
    FloorLedger floor(Url, FloorTimeoutSeconds);
    floor.Send(runs);
    for (const ReportGrouping by :
         {ReportGrouping::Day, ReportGrouping::Station, ReportGrouping::Port, ReportGrouping::Item,
          ReportGrouping::Firmware, ReportGrouping::Chip, ReportGrouping::Operator}) {
        ReportRequest request;
        request.By = by;
        request.Since = At("2026-03-03T12:00:00.000Z");
        const Report a = BuildReport(local, request), b = BuildReport(floor, request);
        ASSERT_EQ(a.Groups.size(), b.Groups.size()) << GroupingName(by);
        ASSERT_GT(a.Groups.size(), 1u) << GroupingName(by);
        for (std::size_t i = 0; i <= a.Groups.size(); ++i) {
            const ReportGroup& x = i < a.Groups.size() ? a.Groups[i] : a.Total;
            const ReportGroup& y = i < b.Groups.size() ? b.Groups[i] : b.Total;
            const std::string where = std::string(GroupingName(by)) + " " + x.Key;
            EXPECT_EQ(x.Key, y.Key) << where;
            EXPECT_EQ(x.Runs, y.Runs) << where;
            EXPECT_EQ(x.Done, y.Done) << where;
            EXPECT_EQ(x.Boards, y.Boards) << where;
            EXPECT_EQ(x.FirstPassDone, y.FirstPassDone) << where;
            // The engines may round a mean in its last bit.
            ASSERT_EQ(x.MedianSeconds.has_value(), y.MedianSeconds.has_value()) << where;
            if (x.MedianSeconds) {
                EXPECT_NEAR(*x.MedianSeconds, *y.MedianSeconds, 1e-9) << where;
            }
            EXPECT_EQ(x.P95Seconds, y.P95Seconds) << where;
            ASSERT_EQ(x.Failures.size(), y.Failures.size()) << where;
            for (std::size_t f = 0; f < x.Failures.size(); ++f) {
                EXPECT_EQ(x.Failures[f].Code, y.Failures[f].Code) << where;
                EXPECT_EQ(x.Failures[f].Cause, y.Failures[f].Cause) << where;
                EXPECT_EQ(x.Failures[f].Count, y.Failures[f].Count) << where;
            }
        }
    }
}
}  // namespace
