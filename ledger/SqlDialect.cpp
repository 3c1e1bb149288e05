#include "ledger/SqlDialect.h"

std::string Parameter(SqlEngine engine, int n) {
    return (engine == SqlEngine::Sqlite ? "?" : "$") + std::to_string(n);
}

std::string TimeParameter(SqlEngine engine, int n) {
    if (engine == SqlEngine::Sqlite) return Parameter(engine, n);
    return "CAST(" + Parameter(engine, n) + " AS timestamptz)";
}

std::string TimeColumnText(SqlEngine engine, const std::string& column) {
    if (engine == SqlEngine::Sqlite) return column;
    return "to_char(" + column + " AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";
}

std::string TimeColumnDay(SqlEngine engine, const std::string& column) {
    if (engine == SqlEngine::Sqlite) return "substr(" + column + ", 1, 10)";
    // A date shown as text is "2026-12-09" in the ISO style, which FloorLedger sets; the cast
    // costs far less than to_char, which the report would call several times for every run.
    return "CAST(CAST(" + column + " AT TIME ZONE 'UTC' AS date) AS text)";
}
