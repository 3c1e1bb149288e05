#pragma once
// The ledger's schema, one SQL file per engine (ledger/sql/), compiled in. Each file is a row
// of steps: the section "-- version N: what" takes a ledger from version N-1 to N. A ledger
// keeps its version in the table ledger_schema; a new one goes through every step.

#include <string>
#include <vector>

#include "ledger/SqlDialect.h"

struct SchemaStep {
    int Version = 0;
    std::string Title;  // what the step brings
    std::string Sql;    // one or more statements
};

// The steps of the engine's file, in order (versions 1, 2, ...).
const std::vector<SchemaStep>& SchemaSteps(SqlEngine engine);

// The steps of a schema file's text; throws LedgerError for a file whose versions are not
// 1, 2, ... in order.
std::vector<SchemaStep> ParseSchemaSteps(const std::string& text);

// The version the newest step leaves: what this program writes.
int LatestVersion(const std::vector<SchemaStep>& steps);

// The statements that create the version table and record the version: written once here so
// that both engines keep it alike.
constexpr char SchemaTableSql[] = "CREATE TABLE ledger_schema (version integer NOT NULL)";

// The message for a ledger that a newer program wrote.
std::string NewerSchemaProblem(const std::string& ledger, int found, int known);
