#pragma once
// The SQLite functions the station's ledger uses, from libsqlite3.so.0 loaded at first use
// (see SharedLibrary.h).

#include <sqlite3.h>

struct SqliteApi {
    decltype(&sqlite3_open_v2) open_v2;
    decltype(&sqlite3_close) close;
    decltype(&sqlite3_busy_timeout) busy_timeout;
    decltype(&sqlite3_db_config) db_config;
    decltype(&sqlite3_exec) exec;
    decltype(&sqlite3_free) free;
    decltype(&sqlite3_errmsg) errmsg;
    decltype(&sqlite3_errstr) errstr;
    decltype(&sqlite3_prepare_v2) prepare_v2;
    decltype(&sqlite3_finalize) finalize;
    decltype(&sqlite3_bind_text) bind_text;
    decltype(&sqlite3_bind_int64) bind_int64;
    decltype(&sqlite3_bind_double) bind_double;
    decltype(&sqlite3_step) step;
    decltype(&sqlite3_reset) reset;
    decltype(&sqlite3_clear_bindings) clear_bindings;
    decltype(&sqlite3_column_count) column_count;
    decltype(&sqlite3_column_text) column_text;
};

// Loads the library on the first call (thread-safe); throws LedgerError when it cannot.
const SqliteApi& Sqlite();
