#include "programming/RunRecord.h"

#include "platform/SystemFiles.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "ledger/UtcTime.h"
#include "programming/DataFolder.h"

namespace {
std::string Hex4(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

// Milliseconds are plenty for a run's duration.
double Rounded(double seconds) {
    return static_cast<double>(std::llround(seconds * 1000)) / 1000;
}

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

std::string FileComparison(const ItemCheck& c) {
    switch (c.File) {
        case ItemCheck::Same:
            return "same";
        case ItemCheck::Differs:
            return "differs from " + Hex4(static_cast<unsigned>(c.FirstDifference));
        case ItemCheck::Unreadable:
            return "unreadable: " + c.FileProblem;
        default:
            return "";
    }
}

nlohmann::ordered_json Identifiers(const DeviceReadout& r) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const FoundIdentifier& f : r.Identifiers)
        list.push_back({{"item", f.Item},
                        {"pattern", f.Pattern},
                        {"bootloader", f.Bootloader},
                        {"text", f.Text}});
    return list;
}

nlohmann::ordered_json CheckValues(const DeviceReadout& r) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const ItemCheck& c : r.Checks) {
        nlohmann::ordered_json item = {{"item", c.Item}, {"identifier", c.Identifier}};
        if (c.Length > 0) {
            item["length"] = c.Length;
            item["stored"] = Hex4(c.Stored);
            item["computed"] = Hex4(c.Computed);
            item["valid"] = c.Valid;
        } else {
            item["not_checked"] = c.NotChecked;
        }
        item["firmware_file"] = FileComparison(c);
        list.push_back(item);
    }
    return list;
}

nlohmann::ordered_json FuseValues(const DeviceReadout& r) {
    nlohmann::ordered_json fuses = nlohmann::ordered_json::object();
    for (const FuseReading& f : r.Fuses) fuses[FuseName(f.Fuse)] = Hex2(f.Value);
    return fuses;
}

// The record's part for the operations that read a device.
void AddReadout(nlohmann::ordered_json& j, const DeviceReadout& r) {
    j["verdict"] = r.Verdict;
    j["identifiers"] = Identifiers(r);
    j["check_values"] = CheckValues(r);
    j["fuses_read"] = FuseValues(r);
    j["lock_bits"] = r.LockRead ? nlohmann::ordered_json(Hex2(r.LockBits)) : nullptr;
    j["eeprom_sha256"] = r.EepromSha256;
    j["flash_copy"] = r.FlashCopyPath;
    j["differing_blocks"] = r.DifferingBlocks;
}

int AppendLocked(int fd, const std::string& text) {
    while (sysfile::LockWhole(fd, sysfile::Lock::Exclusive, true) != 0)
        if (errno != EINTR) return errno;
    std::size_t done = 0;
    while (done < text.size()) {
        const long long n = sysfile::WriteSome(fd, text.data() + done, text.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n == 0)
            return EIO;
        else if (errno != EINTR)
            return errno;
    }
    return sysfile::SyncData(fd) == 0 ? 0 : errno;
}

// The ledger's fields beyond those the line has always had.
void AddLedgerFields(nlohmann::ordered_json& j, const LedgerRecord& r) {
    j["run_id"] = r.RunId;
    j["station"] = r.Station;
    j["operator"] = r.Operator;
    j["ledger_operation"] = r.Operation;
    j["program_version"] = r.ProgramVersion;
    j["catalogue"] = r.Catalogue;
    j["catalogue_sha256"] = r.CatalogueSha256;
    j["item_number"] = r.ItemNumber;
    j["item_name"] = r.ItemName;
    j["firmware_sha256"] = r.FirmwareSha256;
    j["signature"] = r.Signature;
    j["started"] = UtcText(r.Started);
    j["ended"] = UtcText(r.Ended);
    j["phases"] = {
        {"identification", Rounded(r.Phases.Identification)}, {"fuses", Rounded(r.Phases.Fuses)},
        {"eeprom_read", Rounded(r.Phases.EepromRead)},        {"erase", Rounded(r.Phases.Erase)},
        {"eeprom_write", Rounded(r.Phases.EepromWrite)},      {"flash", Rounded(r.Phases.Flash)}};
    j["serial"] = r.Serial;
}
}  // namespace

std::string RunRecordLine(const RunRecordInfo& info, const RunOutcome& o,
                          const LedgerRecord* ledger) {
    nlohmann::ordered_json j;
    j["time"] = IsoTimeStamp(info.Started);
    j["operation"] = info.Operation;
    j["port"] = info.Port;
    j["chip"] = o.Chip;
    j["firmware"] = info.Firmware;
    j["firmware_id"] = o.FirmwareId;
    j["firmware_id_pattern"] = info.FirmwarePattern;
    j["firmware_id_missing"] = o.FirmwareIdMissing;
    j["image_length"] = o.ImageLength;
    j["check_value"] = Hex4(o.CheckValue);
    j["retries"] = o.Retries;
    j["seconds"] = Rounded(o.Seconds);
    j["code"] = o.Success ? 0 : o.Code;
    j["fuses"] = o.FusesWritten;
    j["outcome"] = o.Success ? std::string("done") : o.Message;
    j["detail"] = o.Detail;
    j["cause"] = CauseText(o.Cause);
    j["device_touched"] = o.DeviceTouched;
    j["eeprom_copy"] = o.EepromCopyPath;
    j["eeprom_saved"] = o.EepromSavedPath;
    j["log"] = o.LogPath;
    if (info.Operation == "read" || info.Operation == "verify") AddReadout(j, o.Readout);
    if (ledger) AddLedgerFields(j, *ledger);
    return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

int AppendRunRecord(const std::string& path, const std::string& line) {
    const int fd = sysfile::Open(path, sysfile::Write | sysfile::Create | sysfile::Append);
    if (fd < 0) return errno;
    const int err = AppendLocked(fd, line);
    const int closed = sysfile::Close(fd) == 0 ? 0 : errno;  // also releases the lock
    return err != 0 ? err : closed;
}

std::string ReadoutJson(const RunOutcome& o) {
    const DeviceReadout& r = o.Readout;
    nlohmann::ordered_json j;
    j["chip"] = o.Chip;
    j["signature"] = {Hex2(r.Signature1), Hex2(r.Signature2)};
    j["box"] = r.Box;
    nlohmann::ordered_json fuses = nlohmann::ordered_json::object();
    for (const FuseReading& f : r.Fuses)
        fuses[FuseName(f.Fuse)] = {{"value", Hex2(f.Value)}, {"meaning", f.Meaning}};
    j["fuses"] = fuses;
    j["lock_bits"] =
        r.LockRead ? nlohmann::ordered_json{{"value", Hex2(r.LockBits)}, {"meaning", r.LockMeaning}}
                   : nlohmann::ordered_json(nullptr);
    j["lockout_guard"] = r.LockoutProblems;
    nlohmann::ordered_json flash = {{"read", r.FlashRead}, {"erased", r.FlashErased}};
    flash["last_non_blank"] =
        r.LastNonBlank >= 0 ? nlohmann::ordered_json(Hex4(static_cast<unsigned>(r.LastNonBlank)))
                            : nlohmann::ordered_json(nullptr);
    flash["identifiers"] = Identifiers(r);
    flash["check_values"] = CheckValues(r);
    flash["copy"] = r.FlashCopyPath;
    j["flash"] = flash;
    j["eeprom"] = {{"read", r.EepromRead},
                   {"blank", r.EepromBlank},
                   {"sha256", r.EepromSha256},
                   {"copy", r.EepromCopyPath}};
    j["verdict"] = r.Verdict;
    j["code"] = o.Success ? 0 : o.Code;
    j["outcome"] = o.Success ? std::string("done") : o.Message;
    j["detail"] = o.Detail;
    j["log"] = o.LogPath;
    return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}
