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
    // The session's time zone is UTC and its dates are shown in the ISO style (FloorLedger
    // sets both): the casts cost far less than to_char, which the report would call several
    // times for every run.
    return "CAST(CAST(" + column + " AS date) AS text)";
}
