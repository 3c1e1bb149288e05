-- The floor's ledger: the runs of every station. Each "-- version N" section takes the
-- schema from version N-1 to N; a new database goes through all of them in one transaction.
-- docs/ledger.md gives the meaning of every column.

-- version 1: the runs
CREATE TABLE runs (
    run_id uuid PRIMARY KEY,
    station text NOT NULL,
    operator text NOT NULL DEFAULT '',
    operation text NOT NULL,
    program_version text NOT NULL DEFAULT '',
    catalogue text NOT NULL DEFAULT '',
    catalogue_sha256 text NOT NULL DEFAULT '',
    item_number integer NOT NULL DEFAULT 0,
    item_name text NOT NULL DEFAULT '',
    firmware text NOT NULL DEFAULT '',
    firmware_sha256 text NOT NULL DEFAULT '',
    firmware_id text NOT NULL DEFAULT '',
    firmware_id_pattern text NOT NULL DEFAULT '',
    image_length integer NOT NULL DEFAULT 0,
    check_value text NOT NULL DEFAULT '',
    chip text NOT NULL DEFAULT '',
    signature text NOT NULL DEFAULT '',
    started timestamptz NOT NULL,
    ended timestamptz NOT NULL,
    seconds double precision NOT NULL DEFAULT 0,
    identification_seconds double precision NOT NULL DEFAULT 0,
    fuses_seconds double precision NOT NULL DEFAULT 0,
    eeprom_read_seconds double precision NOT NULL DEFAULT 0,
    erase_seconds double precision NOT NULL DEFAULT 0,
    eeprom_write_seconds double precision NOT NULL DEFAULT 0,
    flash_seconds double precision NOT NULL DEFAULT 0,
    code integer NOT NULL,
    outcome text NOT NULL,
    detail text NOT NULL DEFAULT '',
    cause text NOT NULL DEFAULT '',
    device_touched boolean NOT NULL,
    fuses text NOT NULL DEFAULT '',
    retries integer NOT NULL DEFAULT 0,
    eeprom_copy text NOT NULL DEFAULT '',
    eeprom_saved text NOT NULL DEFAULT '',
    log text NOT NULL DEFAULT '',
    serial text NOT NULL DEFAULT '',
    port text NOT NULL DEFAULT '',
    received timestamptz NOT NULL DEFAULT now()
);

-- version 2: the indexes of the report
-- A report's window of time; each board's earlier runs (its first pass).
CREATE INDEX runs_by_started ON runs (started);
CREATE INDEX runs_by_serial ON runs (serial, started);

-- version 3: the report's indexes hold what it reads
-- Each board's earlier runs with what tells them apart and their operation, so that finding
-- a board's first pass reads no run; the done runs in the order of their seconds, for the
-- percentiles of a whole report.
DROP INDEX runs_by_serial;
CREATE INDEX runs_by_serial_pass ON runs (serial, started, run_id, operation);
CREATE INDEX runs_by_seconds ON runs (code, seconds, operation, started);
