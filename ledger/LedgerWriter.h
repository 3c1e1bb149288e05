#pragma once
// What a run calls at its end to keep its record: the station's own ledger always, the
// floor's when one is configured. A floor ledger that is down, slow or refuses the login never
// fails the run and holds it up by at most its time-out (FloorTimeoutSeconds to connect, the
// same again per statement): the record waits, marked unsent, and goes along with the next
// run's record or with `q40prog-cli ledger sync`. Records are keyed by run_id, so none is sent
// twice, and none leaves the station's ledger.
//
// Safe to call from several threads and processes at once: each call opens its own
// connections and closes them before it returns.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "ledger/LedgerConfig.h"
#include "ledger/LedgerRecord.h"

struct LedgerSettings {
    std::string DataFolder;  // ledger.sqlite goes here: the run's own data folder
    std::string FloorUrl;    // empty: the station's own ledger only
    int TimeoutSeconds = FloorTimeoutSeconds;
    // How many older waiting records a run's Keep sends along with its own; `ledger sync`
    // sends them all.
    std::size_t BacklogPerRun = 100;
};

struct SyncResult {
    bool Reached = false;     // the floor ledger answered
    std::size_t Sent = 0;     // records new to the floor
    std::size_t Known = 0;    // records the floor had already (sent before the mark was set)
    std::size_t Waiting = 0;  // records still unsent afterwards
    std::optional<std::string> Problem;  // the one line when the floor was not reached
};

class LedgerWriter {
public:
    explicit LedgerWriter(LedgerSettings settings);

    // Keeps the record; a record without a valid run_id gets a new one, and texts that are
    // not UTF-8 keep their valid part (see ValidUtf8). Never throws. Returns the one line for
    // the run's log and stderr when something did not go as it should, e.g.
    //   floor ledger not reached (postgresql://q40@floor/ledger): connection to server at
    //   "floor" ... failed: timeout expired; 3 records wait in .../ledger.sqlite for the next
    //   run or q40prog-cli ledger sync
    // and nothing when the record is where it belongs.
    std::optional<std::string> Keep(const LedgerRecord& record) const noexcept;

    // Sends every waiting record to the floor (in batches, oldest first).
    SyncResult Sync() const;

    std::string LocalPath() const;

private:
    LedgerSettings Settings;
};

// The record as the ledgers take it: a run_id, and texts in valid UTF-8.
LedgerRecord PreparedRecord(const LedgerRecord& record);
