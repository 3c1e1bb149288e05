// Housekeeping: which files of which runs go, and everything that keeps a file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "ledger/Prune.h"
#include "ledger/SqliteLedger.h"
#include "ledger/UtcTime.h"
#include "tests/ledger/LedgerSamples.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {
const auto Now = At("2026-06-30T12:00:00.000Z");
const auto Cutoff = Now - std::chrono::hours(24 * 30);  // --older-than 30

class PruneFolder : public ::testing::Test {
protected:
    std::string Data() const { return Folder.Path; }
    // A file of the data folder, made with some bytes.
    std::string Make(const std::string& relative) {
        const std::string path = Folder.Path + "/" + relative;
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << std::string(100, 'x');
        return path;
    }
    // A run of the ledger that ended at 'ended', naming its copy, saved copy and log.
    LedgerRecord Run(int n, const std::string& ended, int code, const std::string& copy,
                     const std::string& saved, const std::string& log) {
        LedgerRecord r = SampleRecord(n);
        r.Ended = At(ended);
        r.Started = r.Ended - std::chrono::seconds(40);
        r.Code = code;
        r.Outcome = code == 0 ? LedgerDone : "Flash programm error!";
        r.EepromCopy = copy;
        r.EepromSaved = saved;
        r.Log = log;
        return r;
    }
    std::set<std::string> Planned(const KeepFile& keep = NoKeep) {
        Plan = PlanPrune(Data(), Cutoff, keep);
        std::set<std::string> paths;
        for (const PruneFile& f : Plan.Files) paths.insert(f.Path);
        return paths;
    }
    static std::optional<std::string> NoKeep(const std::string&) { return std::nullopt; }

    TempFolder Folder;
    PrunePlan Plan;
};

TEST_F(PruneFolder, OldDoneRunsLoseTheirCopiesAndLogsAndNothingElse) {
    const std::string oldCopy = Make("eeprom/eeprom-old.bin"), oldLog = Make("logs/run-old.log");
    const std::string newCopy = Make("eeprom/eeprom-new.bin"), newLog = Make("logs/run-new.log");
    const std::string failedCopy = Make("eeprom/eeprom-failed.bin");
    const std::string failedLog = Make("logs/run-failed.log");
    const std::string shared = Make("eeprom/eeprom-shared.bin");  // a later run writes it back
    const std::string outside = Make("elsewhere/eeprom-old.bin");
    const std::string ledgerFile = LocalLedgerPath(Data());
    {
        SqliteLedger ledger(ledgerFile);
        ledger.InsertAll(
            {Run(1, "2026-05-01T10:00:00.000Z", 0, oldCopy, oldCopy, oldLog),
             Run(2, "2026-06-29T10:00:00.000Z", 0, newCopy, newCopy, newLog),
             Run(3, "2026-04-01T10:00:00.000Z", 11, failedCopy, failedCopy, failedLog),
             Run(4, "2026-04-02T10:00:00.000Z", 0, shared, shared, ""),
             Run(5, "2026-06-20T10:00:00.000Z", 11, shared, "", ""),
             Run(6, "2026-04-03T10:00:00.000Z", 0, outside, ledgerFile, Data() + "/runs.jsonl"),
             Run(7, "2026-04-04T10:00:00.000Z", 0, Data() + "/logs/gone.log", "", "")},
            true);
    }
    std::ofstream(Data() + "/runs.jsonl") << "";
    EXPECT_EQ(Planned(), (std::set<std::string>{oldCopy, oldLog}));
    EXPECT_EQ(Plan.Bytes(), 200u);
    ASSERT_EQ(Plan.Kept.size(), 1u);
    EXPECT_EQ(Plan.Kept[0].first, shared);
    EXPECT_EQ(Plan.Kept[0].second, "named by a newer run or one that did not end done");

    const PruneResult result = ApplyPrune(Plan, NoKeep);
    EXPECT_EQ(result.Removed.size(), 2u);
    EXPECT_TRUE(result.Failed.empty());
    for (const std::string& gone : {oldCopy, oldLog}) EXPECT_FALSE(fs::exists(gone)) << gone;
    for (const std::string& kept : {newCopy, newLog, failedCopy, failedLog, shared, outside,
                                    ledgerFile, Data() + "/runs.jsonl"})
        EXPECT_TRUE(fs::exists(kept)) << kept;
    EXPECT_TRUE(Planned().empty());  // a second prune finds nothing more
}

TEST_F(PruneFolder, WhatTheCallerKeepsStaysEvenWhenItTurnsPendingAtTheLastMoment) {
    const std::string pending = Make("eeprom/eeprom-pending.bin");
    const std::string late = Make("eeprom/eeprom-late.bin");
    SqliteLedger(LocalLedgerPath(Data()))
        .InsertAll({Run(1, "2026-05-01T10:00:00.000Z", 0, pending, "", ""),
                    Run(2, "2026-05-01T11:00:00.000Z", 0, late, "", "")},
                   true);
    bool lateIsPending = false;
    const KeepFile keep = [&](const std::string& path) -> std::optional<std::string> {
        if (path == pending || (lateIsPending && path == late)) return "a pending EEPROM copy";
        return std::nullopt;
    };
    EXPECT_EQ(Planned(keep), (std::set<std::string>{late}));
    ASSERT_EQ(Plan.Kept.size(), 1u);
    EXPECT_EQ(Plan.Kept[0].second, "a pending EEPROM copy");
    lateIsPending = true;  // a run marked it between the plan and the removal
    const PruneResult result = ApplyPrune(Plan, keep);
    EXPECT_TRUE(result.Removed.empty());
    ASSERT_EQ(result.Kept.size(), 1u);
    EXPECT_TRUE(fs::exists(late));
    EXPECT_TRUE(fs::exists(pending));
}

// runs.jsonl holds the runs from before the ledger, in its own form.
TEST_F(PruneFolder, RunLinesCountAndALineCutShortKeepsWhatItMightName) {
    const std::string oldCopy = Make("eeprom/eeprom-a.bin"), oldLog = Make("logs/run-a.log");
    const std::string cut = Make("eeprom/eeprom-cut.bin");
    const std::string recent = Make("logs/run-recent.log");
    const std::string failed = Make("logs/run-failed.log");
    std::ofstream(Data() + "/runs.jsonl")
        << R"({"time":"2026-05-01T10:00:00.000Z","operation":"program","seconds":41.5,"code":0,"outcome":"done","eeprom_copy":")"
        << oldCopy << R"(","eeprom_saved":")" << oldCopy << R"(","log":")" << oldLog << "\"}\n"
        << R"({"time":"2026-05-01T10:00:00.000Z","seconds":4.0,"code":11,"outcome":"Flash programm error!","eeprom_copy":"","eeprom_saved":"","log":")"
        << failed
        << "\"}\n"
        // Started before the cut-off, ended after it: not old enough.
        << R"({"time":")" << UtcText(Cutoff - std::chrono::seconds(10))
        << R"(","seconds":40.0,"code":0,"outcome":"done","eeprom_copy":"","eeprom_saved":"","log":")"
        << recent << "\"}\n"
        << R"({"time":"2026-05-01T10:00:00.000Z","seconds":40.0,"code":0,"outcome":"done","eeprom_copy":")"
        << cut << "\"}\n"
        << R"({"time":"2026-05-02T10:00:00.000Z","seconds":40.0,"code":0,"outcome":"done","eeprom_copy":")"
        << cut << R"(","eeprom_sa)"
        << "\n"
        << "\n";
    EXPECT_EQ(Planned(), (std::set<std::string>{oldCopy, oldLog}));
    EXPECT_EQ(Plan.UnreadableLines, 1u);
    ASSERT_EQ(Plan.Kept.size(), 1u);
    EXPECT_EQ(Plan.Kept[0], std::make_pair(cut, std::string("named by a line of runs.jsonl that "
                                                            "cannot be read")));
    EXPECT_FALSE(fs::exists(LocalLedgerPath(Data())));  // reading creates no ledger
}
}  // namespace
