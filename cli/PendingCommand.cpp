// pending: the EEPROM copies whose way back into their device has not finished, and a way to
// drop the mark of one that will never go back (a unit scrapped, a copy restored by hand).
#include <cstdio>

#include "cli/Command.h"
#include "platform/SystemFiles.h"
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
    "update of that chip whose EEPROM is empty, or holds only part of the copy that another\n"
    "board could hold as well, stops to ask whether it is that device (program) or, when\n"
    "empty, says that the copy exists (station); a copy whose device will never come back\n"
    "should be forgotten. A copy that a running update is writing back cannot be.\n"
    "A record that cannot be read (cut short, damaged) stops every update before its erase:\n"
    "pending then lists what the record still names and says how to go on (exit code 1).\n";

std::string Note(const PendingCopy& c) {
    sysfile::Info st;
    if (sysfile::InfoAt(c.Path, st) != 0) return "  (copy missing)";
    return EepromCopyInUse(c.Path) ? "  (being written back now)" : "";
}

// A record that cannot be read leaves every update of any chip stopped before its erase. What
// it still names is listed, with the way on; the copies themselves are untouched on disk.
int DamagedRecord(const std::string& folder, const std::string& file, int err) {
    std::printf("the record of pending eeprom copies cannot be used: %s: %s\n", file.c_str(),
                PendingRecordReason(err).c_str());
    const std::vector<std::string> named = SalvagePendingCopies(folder);
    if (named.empty())
        std::printf("no copy can be read from it\n");
    else
        std::printf("copies it names, as far as it can be read:\n");
    for (const std::string& c : named) std::printf("  %s\n", c.c_str());
    std::printf("every eeprom copy stays in %s/eeprom\n", folder.c_str());
    std::printf("updates stop before the erase until the record is mended; to go on:\n");
    std::printf("  mv %s %s.damaged\n", file.c_str(), file.c_str());
    std::printf(
        "then, for each copy whose device has not got it back, connect that device and "
        "run\n  q40prog-cli restore-eeprom --port PORT COPY\n");
    return ExitFailure;
}

int List(const std::string& folder) {
    std::vector<PendingCopy> copies;
    std::string file;
    if (const int err = ReadPendingCopies(folder, copies, &file))
        return DamagedRecord(folder, file, err);
    if (copies.empty()) std::printf("no pending eeprom copies\n");
    for (const PendingCopy& c : copies)
        std::printf("%s  %-10s  %s  %s%s\n", QuestionDate(c.Time).c_str(), c.Chip.c_str(),
                    c.Port.c_str(), c.Path.c_str(), Note(c).c_str());
    return ExitOk;
}

// The marks named, each checked before any goes: a mistyped one drops none.
int Forget(const std::string& folder, const std::vector<std::string>& named) {
    std::vector<PendingCopy> copies;
    std::string file;
    if (const int err = ReadPendingCopies(folder, copies, &file))
        return DamagedRecord(folder, file, err);
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
    if (const int err = ClearPending(folder, paths, &file))
        return Failure("cannot update " + file, PendingRecordReason(err));
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
