#include "ledger/FloorLedger.h"

#include <memory>

#include "ledger/LedgerColumns.h"
#include "ledger/LedgerConfig.h"
#include "ledger/LedgerError.h"
#include "ledger/PqApi.h"

namespace {
// Rows per INSERT: 39 parameters each; small enough that a busy server takes each
// statement well within the statement time-out.
constexpr std::size_t BatchRows = 100;
// Serialises schema changes between stations creating or updating the ledger at once.
constexpr long long SchemaLockKey = 0x5134304c454447;  // "Q40LEDG"

// A statement the server refused; its SQLSTATE says why.
class StatementError : public LedgerError {
public:
    StatementError(const std::string& what, std::string state)
        : LedgerError(what), State(std::move(state)) {}
    // A value the server cannot hold (class 22, data exception) or a constraint it breaks
    // (class 23): the record's fault, not the server's or the network's.
    bool RecordAtFault() const {
        return State.compare(0, 2, "22") == 0 || State.compare(0, 2, "23") == 0;
    }

private:
    std::string State;
};

using Result = std::unique_ptr<PGresult, void (*)(PGresult*)>;

void ClearResult(PGresult* r) {
    Pq().clear(r);
}

void Quiet(void*, const char*) {}  // notices are the server's business, not the run's stderr

std::string InsertSql(std::size_t rows) {
    const std::size_t n = LedgerColumns().size();
    std::string values;
    for (std::size_t r = 0; r < rows; ++r) {
        values += r ? ", (" : "(";
        for (std::size_t c = 0; c < n; ++c)
            values +=
                (c ? ", " : "") + Parameter(SqlEngine::Postgres, static_cast<int>(r * n + c + 1));
        values += ")";
    }
    return "INSERT INTO runs (" + ColumnList() + ") VALUES " + values +
           " ON CONFLICT (run_id) DO NOTHING";
}

void AddParameters(const LedgerRecord& r, std::vector<std::string>& parameters) {
    for (const LedgerColumn& c : LedgerColumns()) parameters.push_back(c.Get(r));
}
}  // namespace

struct FloorLedger::Connection {
    PGconn* Db = nullptr;
    ~Connection() { Pq().finish(Db); }

    // Runs one statement; throws StatementError when the server refuses it and LedgerError
    // when the connection fails.
    Result Run(const std::string& sql, const std::vector<std::string>& parameters = {}) {
        std::vector<const char*> values;
        for (const std::string& p : parameters) values.push_back(p.c_str());
        Result r(parameters.empty()
                     ? Pq().exec(Db, sql.c_str())
                     : Pq().execParams(Db, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                       values.data(), nullptr, nullptr, 0),
                 ClearResult);
        const ExecStatusType status = r ? Pq().resultStatus(r.get()) : PGRES_FATAL_ERROR;
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return r;
        const std::string why = OneLine(r ? Pq().resultErrorMessage(r.get()) : "");
        const char* state = r ? Pq().resultErrorField(r.get(), PG_DIAG_SQLSTATE) : nullptr;
        if (state) throw StatementError(why, state);
        throw LedgerError(why.empty() ? OneLine(Pq().errorMessage(Db)) : why);
    }

    // A transaction that rolls back unless committed.
    class Transaction {
    public:
        explicit Transaction(Connection& c) : C(c) { C.Run("BEGIN"); }
        ~Transaction() {
            if (Open) ClearResult(Pq().exec(C.Db, "ROLLBACK"));
        }
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        void Commit() {
            C.Run("COMMIT");
            Open = false;
        }

    private:
        Connection& C;
        bool Open = true;
    };
};

FloorLedger::FloorLedger(const std::string& url, int timeoutSeconds, Use use,
                         const std::vector<SchemaStep>& steps)
    : Conn(std::make_unique<Connection>()) {
    const PqApi& pq = Pq();
    const int statementSeconds = use == Use::Read ? ReportStatementSeconds : timeoutSeconds;
    Conn->Db = pq.connectdb(FloorConnectionString(url, timeoutSeconds, statementSeconds).c_str());
    if (!Conn->Db) throw LedgerError("out of memory");
    if (pq.status(Conn->Db) != CONNECTION_OK) throw LedgerError(OneLine(pq.errorMessage(Conn->Db)));
    pq.setNoticeProcessor(Conn->Db, Quiet, nullptr);
    // The report's days in UTC and as text "2026-12-09" (SqlDialect).
    Conn->Run("SET TimeZone = 'UTC'");
    Conn->Run("SET DateStyle = 'ISO, YMD'");
    const int latest = LatestVersion(steps);
    if (use == Use::Write) {
        Migrate(steps);
        return;
    }
    if (use == Use::Connect) return;
    const int found = SchemaVersion();
    if (found == 0) throw LedgerError("the floor ledger has no runs yet (no ledger_schema table)");
    if (found > latest) throw LedgerError(NewerSchemaProblem("the floor ledger", found, latest));
    // The report's sorts in memory rather than in temporary files. Without the just-in-time
    // compiler: the planner overrates the report's groups, compiles its expressions for each
    // query, and the compiling takes longer than the whole query runs without it.
    Conn->Run("SET work_mem = '64MB'");
    Conn->Run("SET jit = off");
}

FloorLedger::~FloorLedger() = default;

int FloorLedger::SchemaVersion() {
    if (Query("SELECT CAST(to_regclass('ledger_schema') AS text)", {})[0][0].empty()) return 0;
    const std::vector<SqlRow> rows = Query("SELECT MAX(version) FROM ledger_schema", {});
    return rows[0][0].empty() ? 0 : std::stoi(rows[0][0]);
}

// A session's advisory lock makes a second station wait while the first creates or updates
// the schema. The transaction starts after the lock is held, so that it sees what the first
// committed (a transaction-level lock would not: the catalogue would still be the one its
// transaction began with).
void FloorLedger::Migrate(const std::vector<SchemaStep>& steps) {
    const int latest = LatestVersion(steps);
    if (SchemaVersion() == latest) return;
    const std::string key = std::to_string(SchemaLockKey);
    Conn->Run("SELECT pg_advisory_lock(" + key + ")");
    try {
        Connection::Transaction txn(*Conn);
        const int version = SchemaVersion();
        if (version > latest)
            throw LedgerError(NewerSchemaProblem("the floor ledger", version, latest));
        if (version == 0) {
            Conn->Run(SchemaTableSql);
            Conn->Run("INSERT INTO ledger_schema (version) VALUES (0)");
        }
        for (const SchemaStep& step : steps)
            if (step.Version > version) Conn->Run(step.Sql);
        Conn->Run("UPDATE ledger_schema SET version = " + std::to_string(latest));
        txn.Commit();
    } catch (const LedgerError&) {
        ClearResult(Pq().exec(Conn->Db, ("SELECT pg_advisory_unlock(" + key + ")").c_str()));
        throw;
    }
    Conn->Run("SELECT pg_advisory_unlock(" + key + ")");
}

SendResult FloorLedger::Send(const std::vector<LedgerRecord>& records) {
    SendResult result;
    try {
        Connection::Transaction txn(*Conn);
        for (std::size_t at = 0; at < records.size(); at += BatchRows) {
            const std::size_t rows = std::min(BatchRows, records.size() - at);
            std::vector<std::string> parameters;
            for (std::size_t i = at; i < at + rows; ++i) AddParameters(records[i], parameters);
            const Result r = Conn->Run(InsertSql(rows), parameters);
            result.Inserted += std::stoul(Pq().cmdTuples(r.get()));
        }
        txn.Commit();
        for (const LedgerRecord& r : records) result.Accepted.push_back(r.RunId);
    } catch (const StatementError& e) {
        // Only a value the server cannot take sends the records one by one, each in a
        // savepoint, so that the others go; a server that is gone, slow or unwilling fails
        // the whole send.
        if (!e.RecordAtFault()) throw;
        result = {};
        Connection::Transaction txn(*Conn);
        for (const LedgerRecord& r : records) {
            std::vector<std::string> parameters;
            AddParameters(r, parameters);
            Conn->Run("SAVEPOINT one_record");
            try {
                const Result done = Conn->Run(InsertSql(1), parameters);
                result.Inserted += std::stoul(Pq().cmdTuples(done.get()));
                Conn->Run("RELEASE SAVEPOINT one_record");
                result.Accepted.push_back(r.RunId);
            } catch (const StatementError& refused) {
                if (!refused.RecordAtFault()) throw;
                Conn->Run("ROLLBACK TO SAVEPOINT one_record");
                result.Refused.emplace_back(r.RunId, refused.what());
            }
        }
        txn.Commit();
    }
    result.Known = result.Accepted.size() - result.Inserted;
    return result;
}

std::size_t FloorLedger::Count() {
    return std::stoul(Query("SELECT COUNT(*) FROM runs", {})[0][0]);
}

std::vector<SqlRow> FloorLedger::Query(const std::string& sql,
                                       const std::vector<std::string>& parameters) {
    const PqApi& pq = Pq();
    // execParams even without parameters: one statement only, results as text.
    std::vector<const char*> values;
    for (const std::string& p : parameters) values.push_back(p.c_str());
    const Result r(pq.execParams(Conn->Db, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                 values.data(), nullptr, nullptr, 0),
                   ClearResult);
    if (!r || pq.resultStatus(r.get()) != PGRES_TUPLES_OK)
        throw LedgerError(OneLine(r ? pq.resultErrorMessage(r.get()) : pq.errorMessage(Conn->Db)));
    std::vector<SqlRow> rows(static_cast<std::size_t>(pq.ntuples(r.get())));
    const int fields = pq.nfields(r.get());
    for (std::size_t i = 0; i < rows.size(); ++i)
        for (int f = 0; f < fields; ++f) {
            const int row = static_cast<int>(i);
            rows[i].emplace_back(pq.getisnull(r.get(), row, f) ? "" : pq.getvalue(r.get(), row, f));
        }
    return rows;
}

void FloorLedger::Execute(const std::string& sql) {
    Connection::Transaction txn(*Conn);
    Conn->Run(sql);
    txn.Commit();
}
