// q40prog-cli ledger, report and prune as a user runs them, against this program's private
// PostgreSQL cluster and a data folder of the test's own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "ledger/FloorLedger.h"
#include "ledger/LedgerConfig.h"
#include "ledger/LedgerWriter.h"
#include "ledger/SqliteLedger.h"
#include "programming/PendingCopies.h"
#include "tests/e2e/CommandRun.h"
#include "tests/ledger/LedgerSamples.h"
#include "tests/support/PostgresCluster.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {
class LedgerCli : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_DATA_HOME", Home.Path.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (Home.Path + "/config").c_str(), 1);
        unsetenv(LedgerEnvironment);
        Data = Home.Path + "/KARDO/Q40Prog";
    }
    void TearDown() override {
        unsetenv("XDG_DATA_HOME");
        unsetenv("XDG_CONFIG_HOME");
        unsetenv(LedgerEnvironment);
    }
    static CommandResult Cli(std::vector<std::string> args) {
        args.insert(args.begin(), Q40_CLI);
        return RunCommand(args);
    }
    std::string FloorUrl() {
        PostgresCluster& cluster = SharedCluster();
        EXPECT_TRUE(cluster.Ok()) << cluster.Problem();
        return cluster.NewDatabase();
    }
    std::string Shown(const std::string& url) const { return ShownUrl(url); }

    TempFolder Home;
    std::string Data;
};

TEST_F(LedgerCli, SyncSendsWhatWaitsAndSaysSo) {
    const std::string url = FloorUrl();
    SqliteLedger(LocalLedgerPath(Data)).InsertAll({SampleRecord(1), SampleRecord(2)}, false);

    // No floor configured: said, with where to configure one.
    CommandResult r = Cli({"ledger", "sync"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err,
              "q40prog-cli: no floor ledger configured\n  give --ledger URL, set "
              "Q40PROG_LEDGER, or put a line ledger=URL into "
              "$XDG_CONFIG_HOME/KARDO/Q40Prog.conf\n");

    // The configuration file's line, as the window program reads it too.
    fs::create_directories(Home.Path + "/config/KARDO");
    std::ofstream(Home.Path + "/config/KARDO/Q40Prog.conf") << "ledger=" << url << "\n";
    r = Cli({"ledger", "status"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "station ledger: " + LocalLedgerPath(Data) + " (schema 3)\n" +
                         "records: 2, waiting for the floor: 2\n" + "floor ledger: " + Shown(url) +
                         " (from " + Home.Path + "/config/KARDO/Q40Prog.conf)\n" +
                         "floor ledger answers: no ledger there yet (the first record sent "
                         "creates it)\n");
    r = Cli({"ledger", "sync"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "sent 2 records to " + Shown(url) + "; nothing waits\n");
    EXPECT_EQ(r.Err, "");
    r = Cli({"ledger", "status"});
    EXPECT_NE(r.Out.find("records: 2, waiting for the floor: 0\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("floor ledger answers: 2 records, schema 3\n"), std::string::npos)
        << r.Out;
    r = Cli({"ledger", "sync"});
    EXPECT_EQ(r.Out, "sent 0 records to " + Shown(url) + "; nothing waits\n");

    // The environment before the file, the option before both; a floor not there fails.
    setenv(LedgerEnvironment, "postgresql://q40:x@127.0.0.1:1/none", 1);
    SqliteLedger(LocalLedgerPath(Data)).Insert(SampleRecord(3));
    r = Cli({"ledger", "sync"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err.rfind("q40prog-cli: floor ledger not reached (postgresql://q40@127.0.0.1:1/"
                          "none): connection to server at \"127.0.0.1\", port 1 failed: ",
                          0),
              0u)
        << r.Err;
    EXPECT_NE(r.Err.find("\n  1 record waits in " + LocalLedgerPath(Data) + "\n"),
              std::string::npos)
        << r.Err;
    r = Cli({"ledger", "sync", "--ledger", url});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "sent 1 record to " + Shown(url) + "; nothing waits\n");

    for (const auto& [args, problem] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"ledger"}, "say sync or status"},
             {{"ledger", "send"}, "unknown ledger command 'send': say sync or status"},
             {{"ledger", "sync", "status"}, "say sync or status"}}) {
        r = Cli(args);
        EXPECT_EQ(r.ExitCode, 2);
        EXPECT_EQ(r.Err.rfind("q40prog-cli ledger: " + problem + "\n", 0), 0u) << r.Err;
    }
}

TEST_F(LedgerCli, ReportFromTheStationsLedgerAFileAndTheFloorAlike) {
    CommandResult r = Cli({"report"});  // no run yet: no ledger, and none is created
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "report by day, all runs (days in UTC)\nno runs\n");
    EXPECT_FALSE(fs::exists(LocalLedgerPath(Data)));

    SqliteLedger(LocalLedgerPath(Data)).InsertAll(HandCountedRuns(), true);
    const std::string url = FloorUrl();
    FloorLedger(url, FloorTimeoutSeconds).Send(HandCountedRuns());
    const std::vector<std::string> options = {
        "--by", "port", "--since", "2026-03-02T08:01Z", "--until", "2026-03-04"};
    std::vector<std::string> args = {"report"};
    args.insert(args.end(), options.begin(), options.end());
    for (const char* format : {"--csv", "--json", ""}) {
        std::vector<std::string> local = args;
        if (*format) local.push_back(format);
        const CommandResult station = Cli(local);
        EXPECT_EQ(station.ExitCode, 0) << station.Err;
        local.insert(local.end(), {"--ledger", url});
        const CommandResult floor = Cli(local);
        EXPECT_EQ(floor.ExitCode, 0) << floor.Err;
        EXPECT_EQ(floor.Out, station.Out) << format;
        local.back() = LocalLedgerPath(Data);  // a station's file read elsewhere
        EXPECT_EQ(Cli(local).Out, station.Out) << format;
    }
    r = Cli({"report", "--by", "station", "--csv", "--since", "2026-03-03T00:00Z"});
    EXPECT_EQ(r.Out,
              "station,runs,done,failed,boards,yield,first_pass_yield,median_seconds,p95_seconds,"
              "failures\r\n"
              "bench-1,4,2,2,3,0.5000,0.6667,45.000,46.000,2x 11 Flash programm error! (verify "
              "mismatch)\r\n"
              "bench-2,4,3,1,4,0.7500,0.7500,52.000,54.000,1x 9 Unable to enter programming "
              "mode. (target lost)\r\n"
              "(all),8,5,3,7,0.6250,0.7143,48.000,54.000,2x 11 Flash programm error! (verify "
              "mismatch); 1x 9 Unable to enter programming mode. (target lost)\r\n");
}

TEST_F(LedgerCli, ReportUsageErrors) {
    for (const auto& [args, problem] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"report", "--by", "serial"},
              "--by takes day, station, port, item, firmware, chip or operator"},
             {{"report", "--by", "all"},
              "--by takes day, station, port, item, firmware, chip or operator"},
             {{"report", "--since", "last week"},
              "--since takes a time such as 2026-12-09 or 2026-12-09T08:00"},
             {{"report", "--until", "2026-02-30x"},
              "--until takes a time such as 2026-12-09 or 2026-12-09T08:00"},
             {{"report", "--csv", "--json"}, "--csv and --json do not go together"},
             {{"report", "--ledger="}, "--ledger needs a URL or a file"},
             {{"report", "today"}, "unexpected argument"}}) {
        const CommandResult r = Cli(args);
        EXPECT_EQ(r.ExitCode, 2) << problem;
        EXPECT_EQ(r.Out, "");
        EXPECT_EQ(
            r.Err.rfind("q40prog-cli report: " + problem + "\n\nusage: q40prog-cli report ", 0), 0u)
            << r.Err;
    }
    const CommandResult missing = Cli({"report", "--ledger", Home.File("elsewhere.sqlite")});
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_EQ(missing.Err, "q40prog-cli: could not read the ledger " +
                               Home.File("elsewhere.sqlite") + "\n  no such file\n");
}

TEST_F(LedgerCli, PruneKeepsPendingCopiesAndSaysWhatGoes) {
    const auto old = std::chrono::system_clock::now() - std::chrono::hours(24 * 40);
    std::vector<std::string> files;
    for (const char* name :
         {"eeprom/eeprom-a.bin", "logs/run-a.log", "eeprom/eeprom-pending.bin"}) {
        files.push_back(Data + "/" + name);
        fs::create_directories(fs::path(files.back()).parent_path());
        std::ofstream(files.back()) << std::string(2048, 'x');
    }
    LedgerRecord done = SampleRecord(1), pending = SampleRecord(2);
    done.Ended = pending.Ended = old;
    done.EepromCopy = done.EepromSaved = files[0];
    done.Log = files[1];
    pending.EepromCopy = pending.EepromSaved = files[2];
    pending.Log = "";
    SqliteLedger(LocalLedgerPath(Data)).InsertAll({done, pending}, true);
    ASSERT_EQ(MarkPending(Data, {files[2], "ATmega644P", "/dev/ttyUSB0", old}), 0);

    CommandResult r = Cli({"prune", "--older-than", "30", "--dry-run"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "kept " + files[2] + ": a pending EEPROM copy\nwould remove " + files[0] +
                         "\nwould remove " + files[1] + "\nwould remove 2 files, 4.0 KiB\n");
    for (const std::string& f : files) EXPECT_TRUE(fs::exists(f)) << f;
    r = Cli({"prune", "--older-than", "41"});
    EXPECT_EQ(r.Out, "removed 0 files, 0.0 KiB\n");
    r = Cli({"prune", "--older-than", "30"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "kept " + files[2] + ": a pending EEPROM copy\nremoved " + files[0] +
                         "\nremoved " + files[1] + "\nremoved 2 files, 4.0 KiB\n");
    EXPECT_FALSE(fs::exists(files[0]));
    EXPECT_FALSE(fs::exists(files[1]));
    EXPECT_TRUE(fs::exists(files[2]));
    EXPECT_TRUE(fs::exists(LocalLedgerPath(Data)));

    for (const char* days : {"0", "-1", "x", "36501", ""}) {
        r = Cli({"prune", std::string("--older-than=") + days});
        EXPECT_EQ(r.ExitCode, 2) << days;
        EXPECT_EQ(r.Err.rfind("q40prog-cli prune: --older-than takes a number of days from 1 to "
                              "36500\n",
                              0),
                  0u)
            << days << ": " << r.Err;
    }
    r = Cli({"prune", "--dry-run"});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_EQ(r.Err.rfind("q40prog-cli prune: --older-than is required\n", 0), 0u) << r.Err;
}

// The database libraries are loaded when a ledger is used: the short commands start without
// them.
TEST_F(LedgerCli, ShortCommandsStartWithoutTheDatabaseLibraries) {
    const CommandResult r = RunCommand({"/usr/bin/readelf", "-d", Q40_CLI});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find("(NEEDED)"), std::string::npos);
    for (const char* library : {"libsqlite3", "libpq", "libcrypto", "libssl"})
        EXPECT_EQ(r.Out.find(library), std::string::npos) << library;
}
}  // namespace
