#include "ledger/SqliteApi.h"

#include "ledger/SharedLibrary.h"

namespace {
SqliteApi Load() {
    const SharedLibrary lib("libsqlite3.so.0");
    SqliteApi api{};
    lib.Bind("sqlite3_open_v2", api.open_v2);
    lib.Bind("sqlite3_close", api.close);
    lib.Bind("sqlite3_busy_timeout", api.busy_timeout);
    lib.Bind("sqlite3_db_config", api.db_config);
    lib.Bind("sqlite3_exec", api.exec);
    lib.Bind("sqlite3_free", api.free);
    lib.Bind("sqlite3_errmsg", api.errmsg);
    lib.Bind("sqlite3_errstr", api.errstr);
    lib.Bind("sqlite3_prepare_v2", api.prepare_v2);
    lib.Bind("sqlite3_finalize", api.finalize);
    lib.Bind("sqlite3_bind_text", api.bind_text);
    lib.Bind("sqlite3_bind_int64", api.bind_int64);
    lib.Bind("sqlite3_bind_double", api.bind_double);
    lib.Bind("sqlite3_step", api.step);
    lib.Bind("sqlite3_reset", api.reset);
    lib.Bind("sqlite3_clear_bindings", api.clear_bindings);
    lib.Bind("sqlite3_column_count", api.column_count);
    lib.Bind("sqlite3_column_text", api.column_text);
    return api;
}
}  // namespace

const SqliteApi& Sqlite() {
    static const SqliteApi api = Load();  // a failed load is tried again at the next call
    return api;
}
