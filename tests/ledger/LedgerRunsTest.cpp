// Runs of q40prog-cli against q40prog-boxsim and this program's private PostgreSQL cluster: the
// records of program on several ports and of a station reach the floor with what they ran;
// a floor that goes down in the middle loses none (they wait in the station's ledger and
// ledger sync sends each once); the board's serial comes from its EEPROM by Serial_<k>.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "ledger/LedgerConfig.h"
#include "ledger/LedgerWriter.h"
#include "ledger/Sha256.h"
#include "ledger/SqliteLedger.h"
#include "sim/BoxSimProcess.h"
#include "tests/e2e/CommandRun.h"
#include "tests/e2e/LiveCommand.h"
#include "tests/support/PostgresCluster.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {
constexpr std::size_t EepromBytes = 0x800;

class LedgerRuns : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_DATA_HOME", Home.Path.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (Home.Path + "/config").c_str(), 1);
        unsetenv(LedgerEnvironment);
        Data = Home.Path + "/KARDO/Q40Prog";
        // A small image: the flash's time is not what these tests are about.
        std::string image(0x400, '\0');
        for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + 1);
        std::ofstream(Home.File("fw.bin"), std::ios::binary) << image;
        FirmwareSha = Sha256Hex(image);
    }
    void TearDown() override {
        for (auto& box : Boxes) box->Stop();
        unsetenv("XDG_DATA_HOME");
        unsetenv("XDG_CONFIG_HOME");
    }

    std::string StartBox(const std::vector<std::string>& options = {}) {
        Boxes.push_back(std::make_unique<BoxSimProcess>(Q40_BOXSIM));
        EXPECT_TRUE(Boxes.back()->Start(options)) << Boxes.back()->Error();
        return Boxes.back()->PortPath();
    }
    static CommandResult Cli(std::vector<std::string> args) {
        args.insert(args.begin(), Q40_CLI);
        return RunCommand(args);
    }
    std::string NewFloor() {
        EXPECT_TRUE(Cluster.Ok()) << Cluster.Problem();
        const std::string url = Cluster.NewDatabase();
        Database = url.substr(url.rfind('/') + 1);
        return url;
    }
    std::string Sql(const std::string& sql) { return Cluster.Sql(Database, sql); }

    std::vector<nlohmann::json> RecordLines() const {
        std::vector<nlohmann::json> lines;
        std::ifstream in(Data + "/runs.jsonl");
        for (std::string line; std::getline(in, line);)
            lines.push_back(nlohmann::json::parse(line));
        return lines;
    }

    PostgresCluster& Cluster = SharedCluster();
    TempFolder Home;
    std::string Data, Database, FirmwareSha;
    std::vector<std::unique_ptr<BoxSimProcess>> Boxes;
};

TEST_F(LedgerRuns, SeveralPortRunsLoseNothingWhileTheFloorIsDownAndSyncSendsEachOnce) {
    const std::string url = NewFloor();
    const std::vector<std::string> ports = {StartBox(), StartBox()};
    for (int run = 0; run < 4; ++run) {
        if (run == 2) {
            ASSERT_TRUE(Cluster.Stop()) << Cluster.Problem();
        }
        const CommandResult r = Cli({"program", "--port", ports[0], "--port", ports[1],
                                     "--firmware", Home.File("fw.bin"), "--station", "bench-7",
                                     "--operator", "anna", "--ledger", url});
        EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
        // A floor that is down costs the run one line per port, never the run.
        const bool down = run >= 2;
        EXPECT_EQ(
            r.Err.find("floor ledger not reached (" + ShownUrl(url) + "): ") != std::string::npos,
            down)
            << r.Err;
    }
    SqliteLedger local(LocalLedgerPath(Data));
    EXPECT_EQ(local.Count(), 8u);
    EXPECT_EQ(local.UnsentCount(), 4u);

    ASSERT_TRUE(Cluster.Start()) << Cluster.Problem();
    EXPECT_EQ(Sql("SELECT COUNT(*) FROM runs"), "4");
    CommandResult r = Cli({"ledger", "sync", "--ledger", url});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, "sent 4 records to " + ShownUrl(url) + "; nothing waits\n");
    r = Cli({"ledger", "sync", "--ledger", url});
    EXPECT_EQ(r.Out, "sent 0 records to " + ShownUrl(url) + "; nothing waits\n");
    EXPECT_EQ(Sql("SELECT COUNT(*), COUNT(DISTINCT run_id) FROM runs"), "8|8");
    EXPECT_EQ(Sql("SELECT DISTINCT station || ' ' || operator || ' ' || operation || ' ' || "
                  "signature || ' ' || firmware_sha256 || ' ' || code FROM runs"),
              "bench-7 anna program 96 0A " + FirmwareSha + " 0");
    EXPECT_EQ(Sql("SELECT COUNT(DISTINCT port) FROM runs"), "2");
    EXPECT_EQ(Sql("SELECT COUNT(*) FROM runs WHERE ended < started OR flash_seconds <= 0 "
                  "OR program_version = ''"),
              "0");

    // The record lines carry the same runs, under the same keys.
    std::set<std::string> ids;
    for (const nlohmann::json& line : RecordLines()) ids.insert(line.at("run_id"));
    ASSERT_EQ(ids.size(), 8u);
    for (const std::string& id : ids)
        EXPECT_EQ(Sql("SELECT COUNT(*) FROM runs WHERE run_id = '" + id + "'"), "1") << id;
}

TEST_F(LedgerRuns, AStationsRecordsReachTheFloorUnderItsName) {
    const std::string url = NewFloor();
    const std::string port = StartBox();
    LiveCommand station;
    ASSERT_TRUE(
        station.Start({Q40_CLI, "station", "--port", port, "--firmware", Home.File("fw.bin"),
                       "--station", "line-2", "--operator", "bob", "--ledger", url}));
    ASSERT_TRUE(station.WaitForLine(port + ": done.")) << station.SoFar().Out;
    station.Signal(SIGINT);
    const CommandResult r = station.Finish();
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(Sql("SELECT operation, station, operator, port, code, device_touched FROM runs"),
              "station|line-2|bob|" + port + "|0|t");
}

// Serial_<k> beside the processor entry, as text and as hex; a serial given wins.
TEST_F(LedgerRuns, TheSerialComesFromTheBoardsEepromWhereTheCatalogueSaysIt) {
    std::string eeprom(EepromBytes, '\xFF');
    eeprom.replace(0x10, 9, std::string("SN-00042\0", 9));
    eeprom.replace(0x20, 3, "\x12\x34\xAB");
    std::ofstream(Home.File("eeprom.in"), std::ios::binary) << eeprom;
    const std::string port = StartBox({"--eeprom-in", Home.File("eeprom.in")});
    fs::create_directories(Home.File("Firmware"));
    fs::copy_file(Home.File("fw.bin"), Home.File("Firmware/main.bin"));
    const std::string ini = Home.File("Q40Prog.INI");
    for (const auto& [location, given, serial] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"0x10:12", "", "SN-00042"},
             {"$20:3:hex", "", "1234AB"},
             {"16:8", "X-1", "X-1"},
             {"0x7FE:4", "", ""},  // beyond the EEPROM: none
         }) {
        std::ofstream(ini) << "[ITEM_1]\nNAME=Main board\nFirmware=main.bin\n"
                              "Processor_1=ATmega644P\nSerial_1="
                           << location << "\n";
        std::vector<std::string> args = {"program",     "--port", port,       "--item", "1",
                                         "--catalogue", ini,      "--ledger", ""};
        if (!given.empty()) args.insert(args.end(), {"--serial", given});
        const CommandResult r = Cli(args);
        ASSERT_EQ(r.ExitCode, 0) << r.Out << r.Err;
        const nlohmann::json line = RecordLines().back();
        EXPECT_EQ(line.at("serial"), serial) << location;
        EXPECT_EQ(line.at("item_number"), 1);
        EXPECT_EQ(line.at("item_name"), "Main board");
        EXPECT_EQ(line.at("catalogue"), ini);
        std::ifstream in(ini, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_EQ(line.at("catalogue_sha256"), Sha256Hex(text.str()));
    }
    SqliteLedger local(LocalLedgerPath(Data));
    EXPECT_EQ(local.Query("SELECT serial FROM runs ORDER BY started", {}).size(), 4u);
    EXPECT_EQ(local.Query("SELECT serial FROM runs WHERE serial = 'SN-00042'", {}).size(), 1u);
}
}  // namespace
