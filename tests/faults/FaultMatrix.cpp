// The fault matrix: every fault the updater must survive, each as a real update through
// q40prog-cli and q40prog-boxsim on a pseudo-terminal, one row per case. A row that breaks
// a rule fails the program.
//
//   fault_matrix [--drops N] [--key K]
//
// The box stops answering at a random point of each phase, and at --drops more random
// points anywhere (default 1); --key repeats the points of an earlier run.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "link/DeviceTable.h"
#include "tests/faults/AbortCase.h"
#include "tests/faults/CliCase.h"
#include "tests/faults/DropCases.h"
#include "tests/faults/PortCases.h"
#include "tests/faults/Spawn.h"

namespace {
constexpr int DefaultExtraDrops = 1;
constexpr int ExitUntouched = 1, ExitNeedsRun = 3;
constexpr int CodeBadEcho = 2, CodeSerialPort = 7, CodeFlash = 11, CodeEeprom = 13, CodeAbort = 14;
constexpr const char* Vanished = "Serial port error!";
// A flaky block that verifies on the last allowed attempt, and one that never does.
constexpr const char* FlashBlock = "0x1000";
constexpr const char* EepromBlock = "0x100";
constexpr const char* JustEnough = ":9";
constexpr const char* OneTooMany = ":10";
// Slow answers (a USB adapter's latency timer, in ms) keep the short steps long enough to
// kill the box inside them; the transfers run at the real line speed.
constexpr const char* SlowAnswersMs = "30";

Expected Failure(int exit, int code, const char* message, const char* step) {
    return {exit, code, message, step, 0, 0};
}

std::vector<CliCase> CliCases() {
    const Expected done{};
    return {
        {"none", "whole update", {}, "", done},
        {"box killed",
         "identification",
         {"--latency", SlowAnswersMs},
         "reading chip type...",
         Failure(ExitUntouched, CodeSerialPort, Vanished, "reading chip type...")},
        {"box killed",
         "EEPROM read",
         {"--baud-pace"},
         "Reading EEProm... 50%",
         Failure(ExitUntouched, CodeSerialPort, Vanished, "reading eeprom...")},
        {"box killed",
         "erase",
         {"--latency", SlowAnswersMs},
         "erasing chip",
         Failure(ExitNeedsRun, CodeSerialPort, Vanished, "erasing chip")},
        {"box killed",
         "EEPROM write",
         {"--baud-pace"},
         "Programming/Verifying EEProm... 50%",
         Failure(ExitNeedsRun, CodeSerialPort, Vanished, "programming eeprom...")},
        {"box killed",
         "flash programming",
         {"--baud-pace"},
         "Programming/Verifying flash... 10%",
         Failure(ExitNeedsRun, CodeSerialPort, Vanished, "programming flash...")},
        {"flash read-back bad 9 times",
         "flash programming",
         {"--flaky-flash", std::string(FlashBlock) + JustEnough},
         "",
         done},
        {"flash read-back bad 10 times",
         "flash programming",
         {"--flaky-flash", std::string(FlashBlock) + OneTooMany},
         "",
         Failure(ExitNeedsRun, CodeFlash, "Flash programm error!", "programming flash...")},
        {"EEPROM read-back bad 9 times",
         "EEPROM write",
         {"--flaky-eeprom", std::string(EepromBlock) + JustEnough},
         "",
         done},
        {"EEPROM read-back bad 10 times",
         "EEPROM write",
         {"--flaky-eeprom", std::string(EepromBlock) + OneTooMany},
         "",
         Failure(ExitNeedsRun, CodeEeprom, "EEProm programm error!", "programming eeprom...")},
        {"box echoes wrongly",
         "first command",
         {"--bad-echo"},
         "",
         Failure(ExitUntouched, CodeBadEcho, "Programmer Error. (Bad echo)",
                 "setting port time to 100")},
    };
}

std::vector<AbortCase> AbortCases() {
    const DeviceEntry& chip = *FindDeviceByName(TestDevice::Chip);
    constexpr int FromTheEnd = 3;  // a late call: this many before the last
    const int eepromCalls = chip.EepromSize / 32, flashCalls = chip.FlashSize / chip.PageSize;
    const Expected read = Failure(ExitUntouched, CodeAbort, "Aborted.", "reading eeprom...");
    const Expected eeprom = Failure(ExitNeedsRun, CodeAbort, "Aborted.", "programming eeprom...");
    const Expected flash = Failure(ExitNeedsRun, CodeAbort, "Aborted.", "programming flash...");
    return {
        {"abort at the first progress call", "EEPROM read", phReadEeprom, 1, read},
        {"abort at a late progress call", "EEPROM read", phReadEeprom, eepromCalls - FromTheEnd,
         read},
        {"abort at the first progress call", "EEPROM write", phProgramEeprom, 1, eeprom},
        {"abort at a late progress call", "EEPROM write", phProgramEeprom, eepromCalls - FromTheEnd,
         eeprom},
        {"abort at the first progress call", "flash programming", phProgramFlash, 1, flash},
        {"abort at a late progress call", "flash programming", phProgramFlash,
         flashCalls - FromTheEnd, flash},
    };
}

bool ParseArgs(int argc, char** argv, int& drops, unsigned& key) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--drops")
            drops = std::atoi(argv[i + 1]);
        else if (name == "--key")
            key = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
        else
            return false;
    }
    return argc % 2 == 1 && drops >= 0;
}
}  // namespace

int main(int argc, char** argv) {
    int drops = DefaultExtraDrops;
    unsigned key = std::random_device{}();
    if (!ParseArgs(argc, argv, drops, key)) {
        std::fprintf(stderr, "usage: fault_matrix [--drops N] [--key K]\n");
        return 2;
    }
    std::string root = (std::filesystem::temp_directory_path() / "q40faults.XXXXXX").string();
    if (!mkdtemp(root.data())) return 1;
    Matrix m{Q40_CLI, Q40_BOXSIM, root, TestDevice::Make(root, key)};
    std::printf("random key %u (repeat with --key %u)\n\n", key, key);
    PrintHeader(stdout);

    const double start = NowSeconds();
    std::vector<FaultRow> rows;
    const auto add = [&](const FaultRow& row) {
        PrintRow(stdout, row);
        rows.push_back(row);
    };
    for (const CliCase& c : CliCases()) add(RunCliCase(m, c, m.CaseFolder()));
    for (const AbortCase& c : AbortCases()) add(RunAbortCase(m, c, m.CaseFolder()));
    add(RunHeldPortCase(m, m.CaseFolder()));
    const std::string a = m.CaseFolder(), b = m.CaseFolder();
    for (const FaultRow& row : RunTwoAtOnceCase(m, a, b)) add(row);
    for (const FaultRow& row : RunDropCases(m, drops, key)) add(row);

    int broken = 0;
    for (const FaultRow& row : rows) broken += row.Ok() ? 0 : 1;
    std::printf("\n%zu cases, %zu survived, %d broken, %.1f s, random key %u\n", rows.size(),
                rows.size() - static_cast<std::size_t>(broken), broken, NowSeconds() - start, key);
    if (broken == 0) std::filesystem::remove_all(root);
    return broken == 0 ? 0 : 1;
}
