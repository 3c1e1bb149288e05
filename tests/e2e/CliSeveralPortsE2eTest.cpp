// program with several --port against as many q40prog-boxsim: one run per port at once, one
// box failing mid-flash while the others finish, a port given twice, Ctrl-C for all of them,
// and the lines per port on a real terminal.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "image/CheckValue.h"
#include "link/IspLink.h"
#include "tests/e2e/BoxSimFixture.h"
#include "tests/e2e/LiveCommand.h"
#include "tests/support/TestData.h"

namespace {
constexpr int ExitNeedsRun = 3;
constexpr std::size_t FlashBytes = 0x10000, EepromBytes = 0x800;
const char* const StopNotice = "q40prog-cli: stopping every update safely";

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The log lines of one port, in their order; the ports' lines interleave as their runs go.
std::string LogOf(const std::string& out, const std::string& port) {
    std::istringstream in(out);
    std::string lines;
    for (std::string line; std::getline(in, line);)
        if (line.rfind(port + ": ", 0) == 0) lines += line + "\n";
    return lines;
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

// What the terminal shows without the cursor movements and erasures: \x1b[<n>A, \x1b[J,
// \x1b[K and carriage returns.
std::string WithoutControls(const std::string& screen) {
    std::string plain;
    for (std::size_t i = 0; i < screen.size(); ++i) {
        if (screen[i] == '\r') continue;
        if (screen[i] == '\x1b' && i + 1 < screen.size() && screen[i + 1] == '[') {
            i += 2;
            while (i < screen.size() && std::isdigit(static_cast<unsigned char>(screen[i]))) ++i;
            continue;  // the letter that ends it
        }
        plain += screen[i];
    }
    return plain;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

class SeveralPorts : public BoxSimTest {
protected:
    void SetUp() override {
        BoxSimTest::SetUp();
        setenv("XDG_DATA_HOME", Scratch("data").c_str(), 1);
        WriteBytes(Scratch("flash.in"), std::vector<uint8_t>(FlashBytes, 0x00));
    }
    void TearDown() override {
        for (auto& box : Boxes)
            if (box->Running()) {
                EXPECT_EQ(box->Stop(), 0);
            }
        BoxSimTest::TearDown();
    }

    // Box i holds EEPROM data of its own; its memories are dumped to flash-i.bin, eeprom-i.bin.
    void StartBoxes(std::size_t count, const std::vector<std::string>& paced,
                    std::size_t failing = SIZE_MAX) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::string n = std::to_string(i);
            Eeproms.push_back(RandomBytes(EepromBytes, 40 + static_cast<unsigned>(i)));
            WriteBytes(Scratch("eeprom-in-" + n), Eeproms.back());
            std::vector<std::string> options{"--eeprom-in",   Scratch("eeprom-in-" + n),
                                             "--flash-in",    Scratch("flash.in"),
                                             "--dump-flash",  Scratch("flash-" + n + ".bin"),
                                             "--dump-eeprom", Scratch("eeprom-" + n + ".bin")};
            options.insert(options.end(), paced.begin(), paced.end());
            if (i == failing) options.insert(options.end(), {"--stuck-flash", "0x2000"});
            Boxes.push_back(std::make_unique<BoxSimProcess>(Q40_BOXSIM));
            ASSERT_TRUE(Boxes.back()->Start(options)) << Boxes.back()->Error();
        }
    }

    std::vector<std::string> Program(const std::vector<std::string>& ports) const {
        std::vector<std::string> argv{Q40_CLI, "program", "--firmware", Scratch("fw.bin")};
        for (const std::string& p : ports) argv.insert(argv.end(), {"--port", p});
        return argv;
    }

    std::string PortOf(std::size_t i) const { return Boxes[i]->PortPath(); }

    std::vector<nlohmann::json> Records() const {
        std::ifstream in(Scratch("data") + "/KARDO/Q40Prog/runs.jsonl");
        std::vector<nlohmann::json> records;
        for (std::string line; std::getline(in, line);)
            records.push_back(nlohmann::json::parse(line));  // throws for a broken line
        return records;
    }

    const nlohmann::json& RecordOf(const std::vector<nlohmann::json>& records,
                                   const std::string& port) const {
        static const nlohmann::json none;
        for (const nlohmann::json& r : records)  // the run of its first mention
            if (r["port"] == port && r["code"] != errPortInUse) return r;
        ADD_FAILURE() << "no record for " << port;
        return none;
    }

    // The table's row of a port: the line that starts with its label and two blanks.
    static std::string RowOf(const std::string& out, const std::string& label) {
        const std::string table = out.substr(out.rfind("\nport "));
        for (const std::string& line : Lines(table))
            if (line.rfind(label + "  ", 0) == 0) return line;
        return {};
    }

    std::vector<uint8_t> Stamped(const std::vector<uint8_t>& image) const {
        std::vector<uint8_t> flash(isp::FlashImageSize, isp::Blank);
        std::copy(image.begin(), image.end(), flash.begin());
        StampCheckValue(flash.data(), static_cast<uint32_t>(image.size()));
        flash.resize(FlashBytes);
        return flash;
    }

    std::vector<std::unique_ptr<BoxSimProcess>> Boxes;
    std::vector<std::vector<uint8_t>> Eeproms;
};
}  // namespace

TEST_F(SeveralPorts, OneBoxFailingMidFlashLeavesTheOthersToFinish) {
    StartBoxes(4, {}, 1);
    const std::vector<uint8_t> image = RandomBytes(0x6000, 41);
    WriteBytes(Scratch("fw.bin"), image);
    const CommandResult r =
        RunCommand(Program({PortOf(0), PortOf(1), PortOf(2), PortOf(3), PortOf(2)}));
    EXPECT_EQ(r.ExitCode, ExitNeedsRun) << r.Out << r.Err;

    // Every log line is whole and names its port; the table says which failed.
    const std::string log = r.Out.substr(0, r.Out.rfind("\nport "));
    for (const std::string& line : Lines(log)) {
        const bool named = std::any_of(Boxes.begin(), Boxes.end(), [&](const auto& b) {
            return line.rfind(b->PortPath() + ": ", 0) == 0 ||
                   line.rfind(b->PortPath() + " (2): ", 0) == 0;
        });
        EXPECT_TRUE(named) << line;
    }
    for (const std::size_t i : {0u, 2u, 3u}) {
        const std::vector<std::string> row = Words(RowOf(r.Out, PortOf(i)));
        ASSERT_EQ(row.size(), 5u) << RowOf(r.Out, PortOf(i));
        EXPECT_EQ(row[1], "ATmega644P");
        EXPECT_EQ(row[2], "done");
        EXPECT_NE(row[4].find("/eeprom-ATmega644P-"), std::string::npos) << row[4];
    }
    EXPECT_TRUE(Has(RowOf(r.Out, PortOf(1)), "ATmega644P  Flash programm error!")) << r.Out;
    EXPECT_TRUE(Has(RowOf(r.Out, PortOf(2) + " (2)"),
                    "-           Error opening serial port. Port already in use?"))
        << r.Out;
    EXPECT_TRUE(Has(r.Out, PortOf(2) + " (2): " + PortOf(2) +
                               " is given twice; its first --port updates the device\n"))
        << r.Out;
    EXPECT_TRUE(Has(r.Out, PortOf(1) + ": the device needs another update; its eeprom copy is "))
        << r.Out;

    // One whole record per run, the failed one among them.
    const std::vector<nlohmann::json> records = Records();
    ASSERT_EQ(records.size(), 5u);
    for (const std::size_t i : {0u, 2u, 3u})
        EXPECT_EQ(RecordOf(records, PortOf(i))["outcome"], "done");
    EXPECT_EQ(RecordOf(records, PortOf(1))["outcome"], "Flash programm error!");
    EXPECT_EQ(RecordOf(records, PortOf(1))["device_touched"], true);
    EXPECT_EQ(std::count_if(records.begin(), records.end(),
                            [](const nlohmann::json& j) { return j["code"] == errPortInUse; }),
              1);

    for (std::size_t i = 0; i < Boxes.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(Boxes[i]->Stop(), 0);
        const std::string n = std::to_string(i);
        EXPECT_EQ(ReadBytes(Scratch("eeprom-" + n + ".bin")), Eeproms[i]);
        if (i != 1) {
            EXPECT_EQ(ReadBytes(Scratch("flash-" + n + ".bin")), Stamped(image));
        }
    }
}

TEST_F(SeveralPorts, CtrlCStopsEveryRunAsASingleRunStops) {
    StartBoxes(3, {"--baud-pace"});
    WriteBytes(Scratch("fw.bin"), RandomBytes(FlashBytes, 42));  // a flash of some seconds each
    LiveCommand cli;
    ASSERT_TRUE(cli.Start(Program({PortOf(0), PortOf(1), PortOf(2)})));
    for (std::size_t i = 0; i < Boxes.size(); ++i)
        ASSERT_TRUE(cli.WaitForLine(PortOf(i) + ": Programming/Verifying flash... 10%"));
    cli.Signal(SIGINT);
    ASSERT_TRUE(cli.WaitForLine(StopNotice));
    cli.Signal(SIGINT);
    ASSERT_TRUE(cli.WaitForLine("q40prog-cli: already stopping"));
    const CommandResult r = cli.Finish();
    EXPECT_EQ(r.ExitCode, ExitNeedsRun) << r.Out << r.Err;
    const std::vector<nlohmann::json> records = Records();
    ASSERT_EQ(records.size(), 3u);
    for (std::size_t i = 0; i < Boxes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(Has(RowOf(r.Out, PortOf(i)), "ATmega644P  Aborted.")) << r.Out;
        EXPECT_TRUE(Has(LogOf(r.Out, PortOf(i)),
                        PortOf(i) + ": programming interrupted: Aborted.\n" + PortOf(i) +
                            ": the device needs another update; its eeprom copy is "))
            << r.Out;
        EXPECT_EQ(RecordOf(records, PortOf(i))["code"], errAborted);
        EXPECT_EQ(RecordOf(records, PortOf(i))["device_touched"], true);
        EXPECT_EQ(ReadBytes(RecordOf(records, PortOf(i))["eeprom_copy"]), Eeproms[i]);
    }
    // The box answers at once afterwards.
    const CommandResult chip = Cli({"chip", "--port", PortOf(0)});
    EXPECT_EQ(chip.Out, "ATmega644P\n") << chip.Err;
}

// On a terminal of 60 columns: a line per port drawn in place below the log, never wider
// than the terminal; the log lines go to stdout as elsewhere.
TEST_F(SeveralPorts, TerminalShowsALinePerPortThatFits) {
    StartBoxes(2, {"--baud-pace"});
    WriteBytes(Scratch("fw.bin"), RandomBytes(0x4000, 43));
    constexpr int Columns = 60;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = Columns;
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &size), 0);
    std::vector<std::string> argv = Program({PortOf(0), PortOf(1)});
    const std::string out = Scratch("out.txt");
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(slave, STDERR_FILENO);
        const int file = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(file, STDOUT_FILENO);
        std::vector<char*> args;
        for (std::string& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(slave);
    std::string screen;
    for (;;) {  // until the program has ended and the terminal hangs up
        char buffer[4096];
        pollfd pfd{master, POLLIN, 0};
        if (poll(&pfd, 1, CommandTimeoutMs) <= 0) break;
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;
        screen.append(buffer, static_cast<std::size_t>(n));
    }
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;

    EXPECT_TRUE(Has(screen, "\x1b[2A\x1b[J")) << "drawn in place";
    const std::string plain = WithoutControls(screen);
    for (const std::string& line : Lines(plain))
        EXPECT_LT(line.size(), static_cast<std::size_t>(Columns)) << line;
    EXPECT_TRUE(Has(plain, "Programming/Verifying flash...")) << plain;
    const std::vector<uint8_t> log = ReadBytes(out);
    const std::string text(log.begin(), log.end());
    EXPECT_TRUE(Has(text, PortOf(0) + ": done without any problem.\n")) << text;
    EXPECT_TRUE(Has(text, PortOf(1) + ": done without any problem.\n")) << text;
    // The last drawing shows both ports done.
    const std::vector<std::string> lines = Lines(plain);
    ASSERT_GE(lines.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_EQ(Words(lines[lines.size() - 2 + i]),
                  (std::vector<std::string>{PortOf(i), "ATmega644P", "done."}))
            << plain;
}

// A port whose chip query fails, or whose chip no processor entry names, has no run; it gets
// its record line all the same, so the record counts every port that was to be updated.
TEST_F(SeveralPorts, EveryPortGetsItsRecordLineWithOrWithoutARun) {
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{}, {"--no-target"}, {"--chip", "ATmega2560"}}) {
        Boxes.push_back(std::make_unique<BoxSimProcess>(Q40_BOXSIM));
        ASSERT_TRUE(Boxes.back()->Start(options)) << Boxes.back()->Error();
    }
    std::filesystem::create_directories(Scratch("Firmware"));
    WriteBytes(Scratch("Firmware/main.bin"), RandomBytes(0x1000, 44));
    std::ofstream(Scratch("Q40Prog.INI"))
        << "[ITEM_1]\nNAME=Main\nVERSION=AB1+5\nFirmware=main.bin\nProcessor_1=ATmega644P\n";
    const CommandResult r =
        RunCommand({Q40_CLI, "program", "--item", "1", "--catalogue", Scratch("Q40Prog.INI"),
                    "--port", PortOf(0), "--port", PortOf(1), "--port", PortOf(2)});
    EXPECT_EQ(r.ExitCode, 1) << r.Out << r.Err;
    EXPECT_TRUE(Has(RowOf(r.Out, PortOf(1)), "Unable to enter programming mode.")) << r.Out;
    EXPECT_TRUE(Has(RowOf(r.Out, PortOf(2)),
                    "ATmega2560  This item cannot be programmed using this selection!"))
        << r.Out;

    const std::vector<nlohmann::json> records = Records();
    ASSERT_EQ(records.size(), 3u);
    const nlohmann::json& done = RecordOf(records, PortOf(0));
    EXPECT_EQ(done["outcome"], "done");
    const struct {
        std::size_t Box;
        int Code;
        const char* Chip;
    } cases[] = {{1, errProgMode, ""}, {2, errNoProcessorEntry, "ATmega2560"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Box);
        const nlohmann::json& record = RecordOf(records, PortOf(c.Box));
        EXPECT_EQ(record["operation"], "program");
        EXPECT_EQ(record["code"], c.Code);
        EXPECT_EQ(record["outcome"], GetErrorText(c.Code));
        EXPECT_EQ(record["chip"], c.Chip);
        EXPECT_EQ(record["firmware"], done["firmware"]);
        EXPECT_EQ(record["firmware_id_pattern"], "AB1+5");
        EXPECT_EQ(record["device_touched"], false);
        EXPECT_EQ(record["log"], "");  // no run, no log of its own
    }
}
