#pragma once
// The station's own ledger: ledger.sqlite in the data folder. Every run goes in, in a
// transaction of its own, marked unsent until the floor's ledger has it; so the file is both
// the station's history and the spool for the floor. Safe for several threads and processes
// at once, each with its own SqliteLedger: writers wait for each other (up to BusyMs).

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "ledger/LedgerRecord.h"
#include "ledger/LedgerSchema.h"
#include "ledger/SqlDialect.h"

struct sqlite3;

constexpr char LocalLedgerName[] = "ledger.sqlite";
std::string LocalLedgerPath(const std::string& dataFolder);

class SqliteLedger : public ISqlSource {
public:
    static constexpr int BusyMs = 5000;

    // Opens the file, creating it and its folder where missing, and brings its schema to
    // the newest of 'steps' (the engine's file unless a test names older ones). Throws
    // LedgerError, also for a file a newer program wrote.
    explicit SqliteLedger(const std::string& path,
                          const std::vector<SchemaStep>& steps = SchemaSteps(SqlEngine::Sqlite));
    ~SqliteLedger() override;
    SqliteLedger(const SqliteLedger&) = delete;
    SqliteLedger& operator=(const SqliteLedger&) = delete;

    const std::string& Path() const { return File; }
    int SchemaVersion();

    // The record, unsent, in one transaction; a run_id kept already keeps its first record.
    void Insert(const LedgerRecord& record);
    // Many records in one transaction (the benchmark's and the tests' fill).
    void InsertAll(const std::vector<LedgerRecord>& records, bool sent);
    // The oldest records the floor has not confirmed, at most 'limit'.
    std::vector<LedgerRecord> Unsent(std::size_t limit);
    std::size_t UnsentCount();
    std::size_t Count();
    void MarkSent(const std::vector<std::string>& runIds);

    SqlEngine Engine() const override { return SqlEngine::Sqlite; }
    std::vector<SqlRow> Query(const std::string& sql,
                              const std::vector<std::string>& parameters) override;
    // Statements without parameters or rows.
    void Execute(const std::string& sql);

private:
    void UseWriteAheadLog();
    void Migrate(const std::vector<SchemaStep>& steps);
    [[noreturn]] void Fail(const std::string& what);

    std::string File;
    sqlite3* Db = nullptr;
};
