#pragma once
// The record's columns, in one table both engines write and read from: the column's name, its
// kind, and how the record's field becomes text and back. The schema files name the same
// columns; a test holds the two to each other.

#include <string>
#include <vector>

#include "ledger/LedgerRecord.h"
#include "ledger/SqlDialect.h"

enum class ColumnKind { Text, Integer, Real, Bool, Time };

struct LedgerColumn {
    const char* Name;
    ColumnKind Kind;
    std::string (*Get)(const LedgerRecord&);
    // False for a text the column cannot hold; the field is left as it was.
    bool (*Set)(LedgerRecord&, const std::string&);
};

const std::vector<LedgerColumn>& LedgerColumns();

// "run_id, station, ...": every column, for INSERT.
std::string ColumnList();
// Every column as text in the order of LedgerColumns, for SELECT.
std::string SelectList(SqlEngine engine);

// A row read with SelectList back into a record. Throws LedgerError for a row that does not
// fit (a text where a number belongs, a time in another form).
LedgerRecord RecordFromRow(const SqlRow& row);

// The records the query's condition selects ("WHERE ..." or "", with parameters), in the
// order the condition's ORDER BY gives.
std::vector<LedgerRecord> ReadRecords(ISqlSource& source, const std::string& condition,
                                      const std::vector<std::string>& parameters);
