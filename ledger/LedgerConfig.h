#pragma once
// Where the floor's ledger is: `--ledger URL` on the command line, else the environment's
// Q40PROG_LEDGER, else a "ledger=" line in KARDO/Q40Prog.conf in the user's settings folder
// ($XDG_CONFIG_HOME or ~/.config; %APPDATA% on Windows), which the window program reads too. And
// how its address becomes a connection that can never hold a run up for long.

#include <optional>
#include <string>

// How long a run waits for the floor's ledger: to connect, and again for each statement.
constexpr int FloorTimeoutSeconds = 3;
// How long a statement of the report may take on the floor's ledger.
constexpr int ReportStatementSeconds = 300;
constexpr char LedgerEnvironment[] = "Q40PROG_LEDGER";

// KARDO/Q40Prog.conf in the user's settings folder.
std::string LedgerConfigPath();

struct FloorSetting {
    std::string Url;   // empty: no floor ledger
    std::string From;  // "--ledger", "Q40PROG_LEDGER" or the configuration file's path
};

// The floor ledger as configured. An empty --ledger value says "none" for this command; an
// empty environment variable counts as unset.
FloorSetting FloorLedgerSetting(const std::optional<std::string>& commandLine);

// The last "key=value" line of a configuration file (blanks around both trimmed, "#" and ";"
// lines and [section] lines skipped, a value in double quotes unquoted). Nothing when the
// file or the key is missing.
std::optional<std::string> ReadConfigValue(const std::string& path, const std::string& key);

// A PostgreSQL address: "postgresql://..." or "postgres://...", or libpq's "key=value ..."
// form.
bool IsFloorUrl(const std::string& text);

// The address as messages show it: without its password.
std::string ShownUrl(const std::string& url);

// The address with the time-outs that bound every wait (connect_timeout; statement_timeout,
// lock_timeout and tcp_user_timeout) and the application name added, each unless the address
// sets it already.
std::string FloorConnectionString(const std::string& url, int connectSeconds, int statementSeconds);
