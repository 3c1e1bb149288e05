#pragma once
// The floor's ledger: the runs of every station in one PostgreSQL database, reached through
// libpq (PqApi.h). A connection lives for one use (a run's record, a sync, a report) and is
// closed with its object. Every wait is bounded: the connection by its connect time-out, each
// statement by a statement time-out of the same length, or ReportStatementSeconds for a
// report (see FloorConnectionString).

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "ledger/LedgerRecord.h"
#include "ledger/LedgerSchema.h"
#include "ledger/SqlDialect.h"

// What a send achieved: records new to the floor, records it had already (sent before by
// this or another process), and records it refused, each with its reason.
struct SendResult {
    std::size_t Inserted = 0;
    std::size_t Known = 0;
    std::vector<std::string> Accepted;                         // run_ids the floor holds now
    std::vector<std::pair<std::string, std::string>> Refused;  // run_id, why
};

class FloorLedger : public ISqlSource {
public:
    enum class Use {
        Write,    // creates the schema on first use and brings an older one up to date
        Read,     // checks that there is a ledger this program can read, for a report
        Connect,  // checks nothing (a look at the ledger's state)
    };

    // Connects; throws LedgerError with the server's or the network's reason.
    FloorLedger(const std::string& url, int timeoutSeconds, Use use = Use::Write,
                const std::vector<SchemaStep>& steps = SchemaSteps(SqlEngine::Postgres));
    ~FloorLedger() override;
    FloorLedger(const FloorLedger&) = delete;
    FloorLedger& operator=(const FloorLedger&) = delete;

    int SchemaVersion();
    // The records in one transaction: INSERT ... ON CONFLICT (run_id) DO NOTHING, so a record
    // sent twice (a process killed between the send and its mark) is there once. A record
    // the server refuses (a value it cannot hold) does not hold back the others.
    SendResult Send(const std::vector<LedgerRecord>& records);
    std::size_t Count();

    SqlEngine Engine() const override { return SqlEngine::Postgres; }
    std::vector<SqlRow> Query(const std::string& sql,
                              const std::vector<std::string>& parameters) override;
    // Statements without parameters or rows, in a transaction of their own.
    void Execute(const std::string& sql);

private:
    void Migrate(const std::vector<SchemaStep>& steps);
    struct Connection;
    std::unique_ptr<Connection> Conn;
};
