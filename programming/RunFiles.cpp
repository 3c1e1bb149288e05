#include "programming/RunFiles.h"

#include "platform/SystemFiles.h"

#include "ledger/UtcTime.h"
#include "link/OsErrorText.h"
#include "programming/DataFolder.h"
#include "programming/RunLedger.h"
#include "programming/UniqueFile.h"

namespace {
std::string Problem(const char* what, const std::string& path, int err) {
    return std::string("could not write the ") + what + " " + path + ": " + OsErrorText(err);
}

// Returns the problem, empty when the log was written.
std::string WriteLogFile(const std::string& folder, const RunRecordInfo& info,
                         const std::vector<std::string>& lines, RunOutcome& outcome) {
    const std::string dir = folder + "/logs";
    if (const int err = MakeFolders(dir)) return Problem("run log folder", dir, err);
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    const FileResult log = SaveUniqueFile(dir + "/run-" + FileTimeStamp(info.Started), ".log",
                                          text.data(), text.size());
    if (log.Error != 0) return Problem("run log", log.Failed, log.Error);
    outcome.LogPath = log.Path;
    return {};
}

std::string AppendRecord(const std::string& folder, const RunRecordInfo& info,
                         const RunOutcome& outcome, const LedgerRecord& ledger) {
    const std::string path = folder + "/runs.jsonl";
    if (const int err = MakeFolders(folder)) return Problem("run record", path, err);
    if (const int err = AppendRunRecord(path, RunRecordLine(info, outcome, &ledger)))
        return Problem("run record", path, err);
    return {};
}

// The record line, then the ledger; each problem in the order it came.
std::vector<std::string> KeepRecordAndLedger(const std::string& folder, const RunRecordInfo& info,
                                             const RunOutcome& outcome) {
    std::vector<std::string> problems;
    const LedgerRecord ledger = RunLedgerRecord(info, outcome, std::chrono::system_clock::now());
    if (std::string p = AppendRecord(folder, info, outcome, ledger); !p.empty())
        problems.push_back(std::move(p));
    if (auto p = KeepInLedger(folder, ledger, info.Context)) problems.push_back(std::move(*p));
    return problems;
}

// The log file is whole already; a later problem joins it at its end if it still can.
void AddToLogFile(const std::string& path, const std::string& line) {
    const int fd = sysfile::Open(path, sysfile::Write | sysfile::Append);
    if (fd < 0) return;
    const std::string text = LogFileLine(line) + "\n";
    if (sysfile::WriteSome(fd, text.data(), text.size()) == static_cast<long long>(text.size()))
        sysfile::Sync(fd);
    sysfile::Close(fd);
}
}  // namespace

std::string LogFileLine(const std::string& line) {
    return UtcText(std::chrono::system_clock::now()) + " " + line;
}

void KeepRunFiles(const std::string& folder, const RunRecordInfo& info,
                  std::vector<std::string>& lines, RunOutcome& outcome, IRunReport& report) {
    std::vector<std::string> problems;
    if (std::string p = WriteLogFile(folder, info, lines, outcome); !p.empty())
        problems.push_back(std::move(p));
    for (std::string& p : KeepRecordAndLedger(folder, info, outcome)) {
        if (!outcome.LogPath.empty()) AddToLogFile(outcome.LogPath, p);
        problems.push_back(std::move(p));
    }
    for (const std::string& p : problems) {
        lines.push_back(LogFileLine(p));
        report.Log(p);
        outcome.Warnings.push_back(p);
    }
}

void KeepRunRecord(const std::string& folder, const RunRecordInfo& info, RunOutcome& outcome,
                   IRunReport& report) {
    for (std::string& p : KeepRecordAndLedger(folder, info, outcome)) {
        report.Log(p);
        outcome.Warnings.push_back(std::move(p));
    }
}
