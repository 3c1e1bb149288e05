#pragma once
// The few places where SQLite and PostgreSQL spell the same thing differently. Everything else
// in the ledger's queries is written once for both.

#include <string>
#include <vector>

enum class SqlEngine { Sqlite, Postgres };

// The n-th statement parameter (from 1): "?1" or "$1".
std::string Parameter(SqlEngine engine, int n);
// The n-th parameter as a time in the ledger's UTC text form, comparable with the time
// columns: SQLite keeps that text, PostgreSQL a timestamptz.
std::string TimeParameter(SqlEngine engine, int n);
// A time column as the ledger's UTC text ("2026-12-09T22:50:01.123Z").
std::string TimeColumnText(SqlEngine engine, const std::string& column);
// A time column's day in UTC, "2026-12-09".
std::string TimeColumnDay(SqlEngine engine, const std::string& column);

using SqlRow = std::vector<std::string>;  // every field as text; NULL as empty

// What the report and the readers need of a ledger: parameterised queries, rows as text.
class ISqlSource {
public:
    virtual ~ISqlSource() = default;
    virtual SqlEngine Engine() const = 0;
    // Throws LedgerError.
    virtual std::vector<SqlRow> Query(const std::string& sql,
                                      const std::vector<std::string>& parameters) = 0;
};
