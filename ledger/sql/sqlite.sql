-- The station's own ledger (ledger.sqlite in the data folder): every run, and the spool of
-- records the floor's ledger has not confirmed yet. Each "-- version N" section takes the
-- schema from version N-1 to N; a new database goes through all of them in one transaction.
-- docs/ledger.md gives the meaning of every column.

-- version 1: the runs
CREATE TABLE runs (
    run_id TEXT PRIMARY KEY NOT NULL,
    station TEXT NOT NULL,
    operator TEXT NOT NULL DEFAULT '',
    operation TEXT NOT NULL,
    program_version TEXT NOT NULL DEFAULT '',
    catalogue TEXT NOT NULL DEFAULT '',
    catalogue_sha256 TEXT NOT NULL DEFAULT '',
    item_number INTEGER NOT NULL DEFAULT 0,
    item_name TEXT NOT NULL DEFAULT '',
    firmware TEXT NOT NULL DEFAULT '',
    firmware_sha256 TEXT NOT NULL DEFAULT '',
    firmware_id TEXT NOT NULL DEFAULT '',
    firmware_id_pattern TEXT NOT NULL DEFAULT '',
    image_length INTEGER NOT NULL DEFAULT 0,
    check_value TEXT NOT NULL DEFAULT '',
    chip TEXT NOT NULL DEFAULT '',
    signature TEXT NOT NULL DEFAULT '',
    started TEXT NOT NULL,
    ended TEXT NOT NULL,
    seconds REAL NOT NULL DEFAULT 0,
    identification_seconds REAL NOT NULL DEFAULT 0,
    fuses_seconds REAL NOT NULL DEFAULT 0,
    eeprom_read_seconds REAL NOT NULL DEFAULT 0,
    erase_seconds REAL NOT NULL DEFAULT 0,
    eeprom_write_seconds REAL NOT NULL DEFAULT 0,
    flash_seconds REAL NOT NULL DEFAULT 0,
    code INTEGER NOT NULL,
    outcome TEXT NOT NULL,
    detail TEXT NOT NULL DEFAULT '',
    cause TEXT NOT NULL DEFAULT '',
    device_touched INTEGER NOT NULL,
    fuses TEXT NOT NULL DEFAULT '',
    retries INTEGER NOT NULL DEFAULT 0,
    eeprom_copy TEXT NOT NULL DEFAULT '',
    eeprom_saved TEXT NOT NULL DEFAULT '',
    log TEXT NOT NULL DEFAULT '',
    serial TEXT NOT NULL DEFAULT '',
    port TEXT NOT NULL DEFAULT '',
    sent INTEGER NOT NULL DEFAULT 0
) STRICT;

-- version 2: the indexes of the report and of the spool
-- A report's window of time; each board's earlier runs (its first pass); the records waiting
-- for the floor.
CREATE INDEX runs_by_started ON runs (started);
CREATE INDEX runs_by_serial ON runs (serial, started);
CREATE INDEX runs_unsent ON runs (started) WHERE sent = 0;

-- version 3: the report's indexes hold what it reads
-- Each board's earlier runs with what tells them apart and their operation, so that finding
-- a board's first pass reads no run; the done runs in the order of their seconds, for the
-- percentiles of a whole report.
DROP INDEX runs_by_serial;
CREATE INDEX runs_by_serial_pass ON runs (serial, started, run_id, operation);
CREATE INDEX runs_by_seconds ON runs (code, seconds, operation, started);
