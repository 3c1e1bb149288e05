#include "ledger/Prune.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "ledger/SqliteLedger.h"
#include "ledger/UtcTime.h"
#include "platform/SystemFiles.h"

namespace fs = std::filesystem;

namespace {
// What prune needs of a record, from either source.
struct RunFiles {
    bool Done = false;
    LedgerClock::time_point Ended;
    std::vector<std::string> Paths;
};

std::string Normal(const std::string& path) {
    if (path.empty()) return {};
    return sysfile::NormalPath(path);
}

void FromLedger(const std::string& folder, std::vector<RunFiles>& runs) {
    const std::string path = LocalLedgerPath(folder);
    std::error_code error;
    if (!fs::exists(sysfile::FsPath(path), error)) return;
    SqliteLedger ledger(path);
    const std::string sql = "SELECT code, " + TimeColumnText(SqlEngine::Sqlite, "ended") +
                            ", eeprom_copy, eeprom_saved, log FROM runs";
    for (const SqlRow& row : ledger.Query(sql, {})) {
        RunFiles r;
        r.Done = row[0] == "0";
        const auto ended = ParseUtcText(row[1]);
        // A time that cannot be read makes the run count as new: its files stay.
        r.Ended = ended ? *ended : LedgerClock::time_point::max();
        r.Paths = {row[2], row[3], row[4]};
        runs.push_back(r);
    }
}

// runs.jsonl: "time" is the start, "seconds" the length, "code" 0 for done.
void FromRunLines(const std::string& folder, std::vector<RunFiles>& runs,
                  std::vector<std::string>& unreadable) {
    std::ifstream in(sysfile::FsPath(folder + "/runs.jsonl"), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        const auto text = [&](const char* key) {
            return j.contains(key) && j[key].is_string() ? j[key].get<std::string>()
                                                         : std::string();
        };
        const auto started = j.is_object() ? ParseUtcText(text("time")) : std::nullopt;
        if (!started || !j.contains("code") || !j["code"].is_number_integer() ||
            !j.contains("seconds") || !j["seconds"].is_number()) {
            unreadable.push_back(line);
            continue;
        }
        RunFiles r;
        r.Done = j["code"].get<long long>() == 0 && text("outcome") == "done";
        r.Ended = *started + std::chrono::duration_cast<LedgerClock::duration>(
                                 std::chrono::duration<double>(j["seconds"].get<double>()));
        r.Paths = {text("eeprom_copy"), text("eeprom_saved"), text("log")};
        runs.push_back(r);
    }
}

bool Inside(const std::string& path, const std::string& folder) {
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}
}  // namespace

std::uintmax_t PrunePlan::Bytes() const {
    std::uintmax_t total = 0;
    for (const PruneFile& f : Files) total += f.Bytes;
    return total;
}

PrunePlan PlanPrune(const std::string& dataFolder, LedgerClock::time_point endedBefore,
                    const KeepFile& keep) {
    std::vector<RunFiles> runs;
    std::vector<std::string> unreadable;
    FromLedger(dataFolder, runs);
    FromRunLines(dataFolder, runs, unreadable);

    std::set<std::string> old, wanted;  // files of old done runs; files any other run names
    for (const RunFiles& r : runs)
        for (const std::string& p : r.Paths) {
            if (p.empty()) continue;
            (r.Done && r.Ended < endedBefore ? old : wanted).insert(Normal(p));
        }

    const std::string folder = Normal(dataFolder);
    const std::string eeprom = folder + "/eeprom", logs = folder + "/logs";
    PrunePlan plan;
    plan.UnreadableLines = unreadable.size();
    for (const std::string& path : old) {
        if (!Inside(path, eeprom) && !Inside(path, logs)) continue;
        std::error_code error;
        const fs::file_status status = fs::symlink_status(sysfile::FsPath(path), error);
        if (error || !fs::is_regular_file(status)) continue;  // gone already, or not ours
        std::optional<std::string> why;
        if (wanted.count(path)) why = "named by a newer run or one that did not end done";
        for (const std::string& line : unreadable)
            if (!why &&
                line.find(sysfile::FsText(sysfile::FsPath(path).filename())) != std::string::npos)
                why = "named by a line of runs.jsonl that cannot be read";
        if (!why) why = keep(path);
        if (why) {
            plan.Kept.emplace_back(path, *why);
            continue;
        }
        const std::uintmax_t bytes = fs::file_size(sysfile::FsPath(path), error);
        plan.Files.push_back({path, error ? 0 : bytes});
    }
    return plan;
}

PruneResult ApplyPrune(const PrunePlan& plan, const KeepFile& keep) {
    PruneResult result;
    for (const PruneFile& f : plan.Files) {
        if (const std::optional<std::string> why = keep(f.Path)) {
            result.Kept.emplace_back(f.Path, *why);
            continue;
        }
        std::error_code error;
        if (fs::remove(sysfile::FsPath(f.Path), error))
            result.Removed.push_back(f);
        else if (error)
            result.Failed.emplace_back(f.Path, error.message());
    }
    return result;
}
