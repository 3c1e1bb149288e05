#include "ledger/LedgerWriter.h"

#include <memory>

#include "ledger/FloorLedger.h"
#include "ledger/LedgerColumns.h"
#include "ledger/LedgerError.h"
#include "ledger/RunId.h"
#include "ledger/SqliteLedger.h"
#include "ledger/Utf8Text.h"

namespace {
constexpr std::size_t SyncBatch = 1000;

std::string Records(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " record" : " records");
}

std::string NotReached(const std::string& url, const std::string& why) {
    return "floor ledger not reached (" + ShownUrl(url) + "): " + why;
}

std::string Waiting(std::size_t n, const std::string& path) {
    return Records(n) + (n == 1 ? " waits" : " wait") + " in " + path +
           " for the next run or q40prog-cli ledger sync";
}

std::string RefusedProblem(const SendResult& sent, const std::string& path) {
    return "floor ledger refused " + Records(sent.Refused.size()) + " (" +
           sent.Refused.front().first + ": " + sent.Refused.front().second + "); they stay in " +
           path;
}
}  // namespace

LedgerRecord PreparedRecord(const LedgerRecord& record) {
    LedgerRecord r = record;
    if (!IsRunId(r.RunId)) r.RunId = NewRunId();
    for (const LedgerColumn& c : LedgerColumns())
        if (c.Kind == ColumnKind::Text) c.Set(r, ValidUtf8(c.Get(r)));
    return r;
}

LedgerWriter::LedgerWriter(LedgerSettings settings) : Settings(std::move(settings)) {}

std::string LedgerWriter::LocalPath() const {
    return LocalLedgerPath(Settings.DataFolder);
}

std::optional<std::string> LedgerWriter::Keep(const LedgerRecord& given) const noexcept {
    try {
        const LedgerRecord record = PreparedRecord(given);
        const std::string path = LocalPath();
        std::unique_ptr<SqliteLedger> local;
        std::string localProblem;
        try {
            local = std::make_unique<SqliteLedger>(path);
            local->Insert(record);
        } catch (const LedgerError& e) {
            localProblem = std::string("could not write the ledger ") + e.what();
            local.reset();
        }
        if (Settings.FloorUrl.empty()) {
            if (localProblem.empty()) return std::nullopt;
            return localProblem;
        }

        // The run's own record first, then the oldest of those waiting.
        std::vector<LedgerRecord> batch = {record};
        if (local) {
            try {
                for (LedgerRecord& r : local->Unsent(Settings.BacklogPerRun + 1))
                    if (r.RunId != record.RunId && batch.size() <= Settings.BacklogPerRun)
                        batch.push_back(std::move(r));
            } catch (const LedgerError&) {
                // The backlog waits for the next run; this record goes on its own.
            }
        }
        SendResult sent;
        try {
            FloorLedger floor(Settings.FloorUrl, Settings.TimeoutSeconds);
            sent = floor.Send(batch);
        } catch (const LedgerError& e) {
            const std::string notReached = NotReached(Settings.FloorUrl, e.what());
            if (!local) return localProblem + "; " + notReached + ": the record is in neither";
            std::size_t waiting = 1;
            try {
                waiting = local->UnsentCount();
            } catch (const LedgerError&) {
            }
            return notReached + "; " + Waiting(waiting, path);
        }
        if (!local) return localProblem + " (the floor ledger has the record)";
        try {
            local->MarkSent(sent.Accepted);
        } catch (const LedgerError& e) {
            // Sent but not marked: the next send finds them on the floor and sends nothing.
            return std::string("could not mark the records sent in the ledger ") + e.what();
        }
        if (!sent.Refused.empty()) return RefusedProblem(sent, path);
        return std::nullopt;
    } catch (const std::exception& e) {
        return std::string("could not keep the run in the ledger: ") + e.what();
    } catch (...) {
        return std::string("could not keep the run in the ledger");
    }
}

SyncResult LedgerWriter::Sync() const {
    SyncResult result;
    SqliteLedger local(LocalPath());
    if (Settings.FloorUrl.empty()) {
        result.Waiting = local.UnsentCount();
        return result;
    }
    try {
        FloorLedger floor(Settings.FloorUrl, Settings.TimeoutSeconds);
        result.Reached = true;
        std::size_t refused = 0;
        // Each batch is marked before the next goes: a sync cut short loses no progress.
        for (;;) {
            std::vector<LedgerRecord> batch = local.Unsent(SyncBatch + refused);
            if (batch.size() <= refused) break;
            const SendResult sent = floor.Send(batch);
            local.MarkSent(sent.Accepted);
            result.Sent += sent.Inserted;
            result.Known += sent.Known;
            if (!sent.Refused.empty() && !result.Problem)
                result.Problem = RefusedProblem(sent, local.Path());
            refused = sent.Refused.size();
            if (sent.Accepted.empty()) break;
        }
    } catch (const LedgerError& e) {
        result.Problem = NotReached(Settings.FloorUrl, e.what());
    }
    result.Waiting = local.UnsentCount();
    return result;
}
