#include "ledger/SqliteLedger.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "ledger/LedgerColumns.h"
#include "ledger/LedgerError.h"
#include "ledger/SqliteApi.h"
#include "platform/SystemFiles.h"

namespace {
// One prepared statement, finalised with its scope.
class Statement {
public:
    Statement(sqlite3* db, const std::string& sql) : Db(db) {
        if (Sqlite().prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &Stmt, nullptr) !=
            SQLITE_OK)
            throw LedgerError(Sqlite().errmsg(db));
    }
    ~Statement() { Sqlite().finalize(Stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    void BindText(int n, const std::string& text) {
        Check(Sqlite().bind_text(Stmt, n, text.data(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT));
    }
    void Bind(int n, const LedgerColumn& column, const std::string& text) {
        switch (column.Kind) {
            case ColumnKind::Integer:
            case ColumnKind::Bool:
                Check(Sqlite().bind_int64(Stmt, n, std::stoll(text)));
                break;
            case ColumnKind::Real:
                Check(Sqlite().bind_double(Stmt, n, std::stod(text)));
                break;
            case ColumnKind::Text:
            case ColumnKind::Time:
                BindText(n, text);
                break;
        }
    }
    // True while there is a row.
    bool Step() {
        const int rc = Sqlite().step(Stmt);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        throw LedgerError(Sqlite().errmsg(Db));
    }
    void Reset() {
        Sqlite().reset(Stmt);
        Sqlite().clear_bindings(Stmt);
    }
    SqlRow Row() const {
        SqlRow row;
        const int n = Sqlite().column_count(Stmt);
        for (int i = 0; i < n; ++i) {
            const unsigned char* text = Sqlite().column_text(Stmt, i);
            row.emplace_back(text ? reinterpret_cast<const char*>(text) : "");
        }
        return row;
    }

private:
    void Check(int rc) const {
        if (rc != SQLITE_OK) throw LedgerError(Sqlite().errmsg(Db));
    }
    sqlite3* Db;
    sqlite3_stmt* Stmt = nullptr;
};

std::string InsertSql() {
    std::string values;
    for (std::size_t i = 1; i <= LedgerColumns().size(); ++i)
        values += (i > 1 ? ", " : "") + Parameter(SqlEngine::Sqlite, static_cast<int>(i));
    return "INSERT INTO runs (" + ColumnList() + ", sent) VALUES (" + values + ", ?" +
           std::to_string(LedgerColumns().size() + 1) + ") ON CONFLICT (run_id) DO NOTHING";
}
}  // namespace

std::string LocalLedgerPath(const std::string& dataFolder) {
    return dataFolder + "/" + LocalLedgerName;
}

SqliteLedger::SqliteLedger(const std::string& path, const std::vector<SchemaStep>& steps)
    : File(path) {
    try {
        Sqlite();
    } catch (const LedgerError& e) {
        throw LedgerError(path + ": " + e.what());
    }
    std::error_code error;
    const std::filesystem::path folder = sysfile::FsPath(path).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, error);
    if (error) throw LedgerError(sysfile::FsText(folder) + ": " + error.message());
    const int rc =
        Sqlite().open_v2(path.c_str(), &Db,
                         SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const std::string why = Db ? Sqlite().errmsg(Db) : Sqlite().errstr(rc);
        Sqlite().close(Db);
        Db = nullptr;
        throw LedgerError(path + ": " + why);
    }
    Sqlite().busy_timeout(Db, BusyMs);
    // Each run opens the ledger for its one record: a checkpoint at every close would sync
    // the whole file each time. The log is folded in when it has grown instead.
    Sqlite().db_config(Db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    try {
        // The write-ahead log lets a report read while a run writes; FULL syncs every
        // commit, so a record that Insert returned survives a power cut.
        UseWriteAheadLog();
        Execute("PRAGMA synchronous = FULL");
        Migrate(steps);
    } catch (const LedgerError& e) {
        Sqlite().close(Db);
        Db = nullptr;
        throw LedgerError(path + ": " + e.what());
    }
}

// Switching a new file to the write-ahead log needs the file to itself, and SQLite does not
// wait for that as it waits for a write lock: several ports opening a new ledger at once
// would see "database is locked". The switch is tried again until the busy time is over;
// a file in WAL mode already (every one after its first open) needs no switch at all.
void SqliteLedger::UseWriteAheadLog() {
    const std::vector<SqlRow> mode = Query("PRAGMA journal_mode", {});
    if (!mode.empty() && !mode[0].empty() && mode[0][0] == "wal") return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(BusyMs);
    for (;;) {
        const int rc = Sqlite().exec(Db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) return;
        if ((rc & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= until)
            throw LedgerError(Sqlite().errmsg(Db));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

SqliteLedger::~SqliteLedger() {
    Sqlite().close(Db);
}

void SqliteLedger::Fail(const std::string& what) {
    throw LedgerError(File + ": " + what);
}

void SqliteLedger::Execute(const std::string& sql) {
    char* message = nullptr;
    if (Sqlite().exec(Db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string why = message ? message : Sqlite().errmsg(Db);
        Sqlite().free(message);
        throw LedgerError(why);
    }
}

int SqliteLedger::SchemaVersion() {
    if (Query("SELECT name FROM sqlite_master WHERE type = 'table' AND name = 'ledger_schema'", {})
            .empty())
        return 0;
    const std::vector<SqlRow> rows = Query("SELECT MAX(version) FROM ledger_schema", {});
    return rows.empty() || rows[0][0].empty() ? 0 : std::stoi(rows[0][0]);
}

// BEGIN IMMEDIATE takes the write lock before the version is read: two processes opening a
// new file at once create it once.
void SqliteLedger::Migrate(const std::vector<SchemaStep>& steps) {
    const int latest = LatestVersion(steps);
    const int found = SchemaVersion();
    if (found == latest) return;
    Execute("BEGIN IMMEDIATE");
    try {
        const int version = SchemaVersion();
        if (version > latest) throw LedgerError(NewerSchemaProblem("the ledger", version, latest));
        if (version == 0) {
            Execute(SchemaTableSql);
            Execute("INSERT INTO ledger_schema (version) VALUES (0)");
        }
        for (const SchemaStep& step : steps)
            if (step.Version > version) Execute(step.Sql);
        Execute("UPDATE ledger_schema SET version = " + std::to_string(latest));
        Execute("COMMIT");
    } catch (const LedgerError&) {
        Sqlite().exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void SqliteLedger::InsertAll(const std::vector<LedgerRecord>& records, bool sent) {
    const auto& columns = LedgerColumns();
    try {
        Execute("BEGIN IMMEDIATE");
        Statement insert(Db, InsertSql());
        for (const LedgerRecord& r : records) {
            for (std::size_t i = 0; i < columns.size(); ++i)
                insert.Bind(static_cast<int>(i + 1), columns[i], columns[i].Get(r));
            insert.BindText(static_cast<int>(columns.size() + 1), sent ? "1" : "0");
            insert.Step();
            insert.Reset();
        }
        Execute("COMMIT");
    } catch (const LedgerError& e) {
        Sqlite().exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
        Fail(e.what());
    }
}

void SqliteLedger::Insert(const LedgerRecord& record) {
    InsertAll({record}, false);
}

std::vector<LedgerRecord> SqliteLedger::Unsent(std::size_t limit) {
    try {
        return ReadRecords(
            *this, "WHERE sent = 0 ORDER BY started, run_id LIMIT " + std::to_string(limit), {});
    } catch (const LedgerError& e) {
        Fail(e.what());
    }
}

std::size_t SqliteLedger::UnsentCount() {
    return std::stoul(Query("SELECT COUNT(*) FROM runs WHERE sent = 0", {})[0][0]);
}

std::size_t SqliteLedger::Count() {
    return std::stoul(Query("SELECT COUNT(*) FROM runs", {})[0][0]);
}

// A mark lost in a power cut costs a second send, which the floor ignores: the marks need no
// sync of their own, the records do.
void SqliteLedger::MarkSent(const std::vector<std::string>& runIds) {
    try {
        Execute("PRAGMA synchronous = NORMAL");
        Execute("BEGIN IMMEDIATE");
        Statement mark(Db, "UPDATE runs SET sent = 1 WHERE run_id = ?1");
        for (const std::string& id : runIds) {
            mark.BindText(1, id);
            mark.Step();
            mark.Reset();
        }
        Execute("COMMIT");
        Execute("PRAGMA synchronous = FULL");
    } catch (const LedgerError& e) {
        Sqlite().exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
        Sqlite().exec(Db, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
        Fail(e.what());
    }
}

std::vector<SqlRow> SqliteLedger::Query(const std::string& sql,
                                        const std::vector<std::string>& parameters) {
    Statement query(Db, sql);
    for (std::size_t i = 0; i < parameters.size(); ++i)
        query.BindText(static_cast<int>(i + 1), parameters[i]);
    std::vector<SqlRow> rows;
    while (query.Step()) rows.push_back(query.Row());
    return rows;
}
