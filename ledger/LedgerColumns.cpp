#include "ledger/LedgerColumns.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "ledger/LedgerError.h"
#include "ledger/UtcTime.h"

namespace {
bool ParseInt(const std::string& text, long long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

bool ParseReal(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return *end == '\0' && std::isfinite(value);
}

std::string RealText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);  // milliseconds are plenty
    return text;
}

bool SetInt(int32_t& field, const std::string& text) {
    long long v = 0;
    if (!ParseInt(text, v) || v < INT32_MIN || v > INT32_MAX) return false;
    field = static_cast<int32_t>(v);
    return true;
}

bool SetReal(double& field, const std::string& text) {
    return ParseReal(text, field);
}

bool SetTime(LedgerClock::time_point& field, const std::string& text) {
    const auto t = ParseUtcText(text);
    if (t) field = *t;
    return t.has_value();
}

// PostgreSQL shows a boolean as "t" or "f", SQLite ours as 1 or 0.
bool SetBool(bool& field, const std::string& text) {
    if (text == "1" || text == "t" || text == "true") return field = true, true;
    if (text == "0" || text == "f" || text == "false") return field = false, true;
    return false;
}

std::string CheckValueText(uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(v));
    return text;
}

bool SetCheckValue(uint16_t& field, const std::string& text) {
    if (text.empty()) return field = 0, true;
    if (text.size() != 6 || text.compare(0, 2, "0x") != 0) return false;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str() + 2, &end, 16);
    if (*end != '\0' || v > 0xFFFF) return false;
    field = static_cast<uint16_t>(v);
    return true;
}

template <std::string LedgerRecord::*Field>
LedgerColumn Text(const char* name) {
    return {name, ColumnKind::Text, [](const LedgerRecord& r) { return r.*Field; },
            [](LedgerRecord& r, const std::string& t) { return r.*Field = t, true; }};
}

template <int32_t LedgerRecord::*Field>
LedgerColumn Int(const char* name) {
    return {name, ColumnKind::Integer,
            [](const LedgerRecord& r) { return std::to_string(r.*Field); },
            [](LedgerRecord& r, const std::string& t) { return SetInt(r.*Field, t); }};
}

template <double LedgerRecord::*Field>
LedgerColumn Real(const char* name) {
    return {name, ColumnKind::Real, [](const LedgerRecord& r) { return RealText(r.*Field); },
            [](LedgerRecord& r, const std::string& t) { return SetReal(r.*Field, t); }};
}

template <double PhaseSeconds::*Field>
LedgerColumn Phase(const char* name) {
    return {name, ColumnKind::Real, [](const LedgerRecord& r) { return RealText(r.Phases.*Field); },
            [](LedgerRecord& r, const std::string& t) { return SetReal(r.Phases.*Field, t); }};
}

template <LedgerClock::time_point LedgerRecord::*Field>
LedgerColumn Time(const char* name) {
    return {name, ColumnKind::Time, [](const LedgerRecord& r) { return UtcText(r.*Field); },
            [](LedgerRecord& r, const std::string& t) { return SetTime(r.*Field, t); }};
}
}  // namespace

const std::vector<LedgerColumn>& LedgerColumns() {
    static const std::vector<LedgerColumn> columns = {
        Text<&LedgerRecord::RunId>("run_id"),
        Text<&LedgerRecord::Station>("station"),
        Text<&LedgerRecord::Operator>("operator"),
        Text<&LedgerRecord::Operation>("operation"),
        Text<&LedgerRecord::ProgramVersion>("program_version"),
        Text<&LedgerRecord::Catalogue>("catalogue"),
        Text<&LedgerRecord::CatalogueSha256>("catalogue_sha256"),
        Int<&LedgerRecord::ItemNumber>("item_number"),
        Text<&LedgerRecord::ItemName>("item_name"),
        Text<&LedgerRecord::Firmware>("firmware"),
        Text<&LedgerRecord::FirmwareSha256>("firmware_sha256"),
        Text<&LedgerRecord::FirmwareId>("firmware_id"),
        Text<&LedgerRecord::FirmwarePattern>("firmware_id_pattern"),
        Int<&LedgerRecord::ImageLength>("image_length"),
        {"check_value", ColumnKind::Text,
         [](const LedgerRecord& r) { return CheckValueText(r.CheckValue); },
         [](LedgerRecord& r, const std::string& t) { return SetCheckValue(r.CheckValue, t); }},
        Text<&LedgerRecord::Chip>("chip"),
        Text<&LedgerRecord::Signature>("signature"),
        Time<&LedgerRecord::Started>("started"),
        Time<&LedgerRecord::Ended>("ended"),
        Real<&LedgerRecord::Seconds>("seconds"),
        Phase<&PhaseSeconds::Identification>("identification_seconds"),
        Phase<&PhaseSeconds::Fuses>("fuses_seconds"),
        Phase<&PhaseSeconds::EepromRead>("eeprom_read_seconds"),
        Phase<&PhaseSeconds::Erase>("erase_seconds"),
        Phase<&PhaseSeconds::EepromWrite>("eeprom_write_seconds"),
        Phase<&PhaseSeconds::Flash>("flash_seconds"),
        Int<&LedgerRecord::Code>("code"),
        Text<&LedgerRecord::Outcome>("outcome"),
        Text<&LedgerRecord::Detail>("detail"),
        Text<&LedgerRecord::Cause>("cause"),
        {"device_touched", ColumnKind::Bool,
         [](const LedgerRecord& r) { return std::string(r.DeviceTouched ? "1" : "0"); },
         [](LedgerRecord& r, const std::string& t) { return SetBool(r.DeviceTouched, t); }},
        Text<&LedgerRecord::FusesWritten>("fuses"),
        Int<&LedgerRecord::Retries>("retries"),
        Text<&LedgerRecord::EepromCopy>("eeprom_copy"),
        Text<&LedgerRecord::EepromSaved>("eeprom_saved"),
        Text<&LedgerRecord::Log>("log"),
        Text<&LedgerRecord::Serial>("serial"),
        Text<&LedgerRecord::Port>("port"),
    };
    return columns;
}

std::string ColumnList() {
    std::string list;
    for (const LedgerColumn& c : LedgerColumns())
        list += (list.empty() ? "" : ", ") + std::string(c.Name);
    return list;
}

std::string SelectList(SqlEngine engine) {
    std::string list;
    for (const LedgerColumn& c : LedgerColumns()) {
        std::string expr = c.Name;
        if (c.Kind == ColumnKind::Time) expr = TimeColumnText(engine, c.Name);
        if (engine == SqlEngine::Postgres && c.Kind == ColumnKind::Text)
            expr = std::string("CAST(").append(expr).append(" AS text)");  // the uuid key too
        list += (list.empty() ? "" : ", ") + expr;
    }
    return list;
}

LedgerRecord RecordFromRow(const SqlRow& row) {
    const auto& columns = LedgerColumns();
    if (row.size() != columns.size())
        throw LedgerError("a ledger row has " + std::to_string(row.size()) + " columns, not " +
                          std::to_string(columns.size()));
    LedgerRecord r;
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (!columns[i].Set(r, row[i]))
            throw LedgerError(std::string("a ledger row holds '") + row[i] + "' in its column " +
                              columns[i].Name);
    return r;
}

std::vector<LedgerRecord> ReadRecords(ISqlSource& source, const std::string& condition,
                                      const std::vector<std::string>& parameters) {
    const std::string sql = "SELECT " + SelectList(source.Engine()) + " FROM runs " + condition;
    std::vector<LedgerRecord> records;
    for (const SqlRow& row : source.Query(sql, parameters)) records.push_back(RecordFromRow(row));
    return records;
}
