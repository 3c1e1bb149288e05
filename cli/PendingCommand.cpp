// pending: the EEPROM copies whose way back into their device has not finished, and a way to
// drop the mark of one that will never go back (a unit scrapped, a copy restored by hand).
#include <sys/stat.h>

#include <cstdio>

#include "cli/Command.h"
#include "link/OsErrorText.h"
#include "programming/DataFolder.h"
#include "programming/EepromKeeper.h"
#include "programming/EepromQuestion.h"
#include "programming/PendingCopies.h"

namespace {
const char* const Help =
    "  --forget COPY   drop the pending mark of this copy (the path as listed); may be\n"
    "                  given more than once. The copy itself stays where it is.\n"
    "\nWithout --forget: one line per pending copy, newest first: the time its update was\n"
    "interrupted after the erase, chip, port and the copy. While a copy is pending, every\n"
    "update of that chip whose EEPROM is empty stops to ask whether it is that device\n"
    "(program) or says that the copy exists (station); a copy whose device will never come\n"
    "back should be forgotten. A copy that a running update is writing back cannot be.\n";

std::string Note(const PendingCopy& c) {
    struct stat st {};
    if (stat(c.Path.c_str(), &st) != 0) return "  (copy missing)";
    return EepromCopyInUse(c.Path) ? "  (being written back now)" : "";
}

int List(const std::string& folder) {
    std::vector<PendingCopy> copies;
    if (const int err = ReadPendingCopies(folder, copies))
        return Failure("cannot read " + PendingRecordPath(folder), OsErrorText(err));
    if (copies.empty()) std::printf("no pending eeprom copies\n");
    for (const PendingCopy& c : copies)
        std::printf("%s  %-10s  %s  %s%s\n", QuestionDate(c.Time).c_str(), c.Chip.c_str(),
                    c.Port.c_str(), c.Path.c_str(), Note(c).c_str());
    return ExitOk;
}

// The marks named, each checked before any goes: a mistyped one drops none.
int Forget(const std::string& folder, const std::vector<std::string>& named) {
    std::vector<PendingCopy> copies;
    if (const int err = ReadPendingCopies(folder, copies))
        return Failure("cannot read " + PendingRecordPath(folder), OsErrorText(err));
    std::vector<std::string> paths;
    for (const std::string& n : named) {
        const std::string path = RecordedCopyPath(n);
        bool marked = false;
        for (const PendingCopy& c : copies) marked = marked || c.Path == path;
        if (!marked)
            return Failure(path + " is not pending",
                           "q40prog-cli pending lists the copies that are");
        if (EepromCopyInUse(path)) return Failure(path + " is being written back by an update now");
        paths.push_back(path);
    }
    if (const int err = ClearPending(folder, paths))
        return Failure("cannot update " + PendingRecordPath(folder), OsErrorText(err));
    for (const std::string& p : paths) std::printf("forgotten: %s\n", p.c_str());
    return ExitOk;
}

int RunPending(const Command& self, const Args& args) {
    if (!args.Positionals().empty()) return UsageError(self, "unexpected argument");
    const std::vector<std::string> forget = args.Options("--forget");
    for (const std::string& f : forget)
        if (f.empty()) return UsageError(self, "--forget needs a copy");
    const std::string folder = DefaultDataFolder();
    return forget.empty() ? List(folder) : Forget(folder, forget);
}

const RegisterCommand reg({"pending",
                           "[--forget COPY ...]",
                           "List the EEPROM copies still pending, or forget one.",
                           Help,
                           {"--forget"},
                           {},
                           RunPending,
                           {"--forget"}});
}  // namespace
