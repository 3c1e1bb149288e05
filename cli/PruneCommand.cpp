// prune: the EEPROM copies and logs of runs that ended done long enough ago.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "cli/Command.h"
#include "cli/HelpWords.h"
#include "ledger/LedgerError.h"
#include "ledger/Prune.h"
#include "link/OsErrorText.h"
#include "programming/DataFolder.h"
#include "programming/EepromKeeper.h"
#include "programming/PendingCopies.h"

namespace {
const char* const Help =
    "  --older-than DAYS  the runs that ended done at least DAYS days ago (1 or more)\n"
    "  --dry-run          list what would be removed, remove nothing\n"
    "\nThe runs are those of the station's ledger and of runs.jsonl in the data folder\n"
    "(" Q40_DATA_FOLDER_LISTED
    "). Only files in its eeprom/ and logs/\n"
    "go. A file stays when a pending EEPROM copy is that file, when an update is writing it\n"
    "back, when a newer run or one that did not end done names it, or when a line of\n"
    "runs.jsonl that cannot be read might. The ledger and runs.jsonl are never touched, so\n"
    "their records may name files that are gone.\n"
    "exit codes: 0 done, 1 a file could not be removed or the records could not be read,\n"
    "            2 usage error\n";

constexpr long MaxDays = 36500;

// A pending copy, and a copy a running update is writing back, stay whatever the records say.
// The marks are read afresh for every file: a run may mark its copy meanwhile.
std::optional<std::string> PendingOrInUse(const std::string& folder, const std::string& path) {
    std::vector<PendingCopy> pending;
    if (const int err = ReadPendingCopies(folder, pending))
        return "the pending copies cannot be read: " + OsErrorText(err);
    const std::string recorded = RecordedCopyPath(path);
    for (const PendingCopy& p : pending)
        if (p.Path == recorded) return std::string("a pending EEPROM copy");
    if (EepromCopyInUse(path)) return std::string("being written back by an update now");
    return std::nullopt;
}

std::string Size(std::uintmax_t bytes) {
    char text[32];
    if (bytes < std::uintmax_t{1024} * 1024)
        std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024);
    else
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024 * 1024));
    return text;
}

int RunPrune(const Command& self, const Args& args) {
    if (!args.Positionals().empty()) return UsageError(self, "unexpected argument");
    const auto daysText = args.Option("--older-than");
    if (!daysText) return UsageError(self, "--older-than is required");
    char* end = nullptr;
    errno = 0;
    const long days = std::strtol(daysText->c_str(), &end, 10);
    if (daysText->empty() || *end != '\0' || errno != 0 || days < 1 || days > MaxDays)
        return UsageError(self, "--older-than takes a number of days from 1 to 36500");

    const std::string folder = DefaultDataFolder();
    const auto before = std::chrono::system_clock::now() - std::chrono::hours(24) * days;
    const KeepFile keep = [&](const std::string& path) { return PendingOrInUse(folder, path); };
    {
        // No pending record that cannot be read: then nothing is known to be safe.
        std::vector<PendingCopy> pending;
        if (const int err = ReadPendingCopies(folder, pending))
            return Failure("cannot read " + PendingRecordPath(folder), OsErrorText(err));
    }
    PrunePlan plan;
    try {
        plan = PlanPrune(folder, before, keep);
    } catch (const LedgerError& e) {
        return Failure(std::string("could not read the ledger ") + e.what());
    }
    for (const auto& [path, why] : plan.Kept)
        std::printf("kept %s: %s\n", path.c_str(), why.c_str());
    if (plan.UnreadableLines)
        std::printf("%zu lines of %s/runs.jsonl are no record; files they name are kept\n",
                    plan.UnreadableLines, folder.c_str());
    if (args.Flag("--dry-run")) {
        for (const PruneFile& f : plan.Files) std::printf("would remove %s\n", f.Path.c_str());
        std::printf("would remove %zu files, %s\n", plan.Files.size(), Size(plan.Bytes()).c_str());
        return ExitOk;
    }
    const PruneResult result = ApplyPrune(plan, keep);
    std::uintmax_t bytes = 0;
    for (const PruneFile& f : result.Removed) {
        std::printf("removed %s\n", f.Path.c_str());
        bytes += f.Bytes;
    }
    for (const auto& [path, why] : result.Kept)
        std::printf("kept %s: %s\n", path.c_str(), why.c_str());
    for (const auto& [path, why] : result.Failed)
        std::fprintf(stderr, "q40prog-cli: could not remove %s: %s\n", path.c_str(), why.c_str());
    std::printf("removed %zu files, %s\n", result.Removed.size(), Size(bytes).c_str());
    return result.Failed.empty() ? ExitOk : ExitFailure;
}

const RegisterCommand reg({"prune",
                           "--older-than DAYS [--dry-run]",
                           "Remove the EEPROM copies and logs of runs done at least DAYS days ago.",
                           Help,
                           {"--older-than"},
                           {"--dry-run"},
                           RunPrune});
}  // namespace
