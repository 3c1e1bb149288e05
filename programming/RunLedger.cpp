#include "programming/RunLedger.h"

#include <cstdio>

#include "ledger/LedgerConfig.h"
#include "ledger/LedgerWriter.h"
#include "ledger/RunId.h"
#include "ledger/Sha256.h"

#ifndef Q40_PROGRAM_VERSION
#define Q40_PROGRAM_VERSION "0"
#endif

namespace {
std::string CauseOf(FailureCause cause) {
    return CauseText(cause);
}
}  // namespace

const char* ProgramVersionText() {
    return Q40_PROGRAM_VERSION;
}

LedgerRecord RunLedgerRecord(const RunRecordInfo& info, const RunOutcome& o,
                             std::chrono::system_clock::time_point ended) {
    const RunContext& c = info.Context;
    LedgerRecord r;
    r.RunId = NewRunId();
    r.Station = c.Station.empty() ? HostName() : c.Station;
    r.Operator = c.Operator;
    r.Operation = c.Operation.empty() ? info.Operation : c.Operation;
    r.ProgramVersion = ProgramVersionText();
    r.Catalogue = c.Catalogue;
    if (!c.Catalogue.empty()) r.CatalogueSha256 = FileSha256Hex(c.Catalogue);
    r.ItemNumber = c.ItemNumber;
    r.ItemName = c.ItemName;
    r.Firmware = info.Firmware;
    r.FirmwareSha256 = o.FirmwareSha256;
    r.FirmwareId = o.FirmwareId;
    r.FirmwarePattern = info.FirmwarePattern;
    r.ImageLength = o.ImageLength;
    r.CheckValue = o.CheckValue;
    r.Chip = o.Chip;
    r.Signature = o.Signature;
    r.Started = info.Started;
    r.Ended = ended;
    r.Seconds = o.Seconds;
    r.Phases = o.Phases;
    r.Code = o.Success ? 0 : o.Code;
    r.Outcome = o.Success ? std::string(LedgerDone) : o.Message;
    r.Detail = o.Detail;
    r.Cause = CauseOf(o.Cause);
    r.DeviceTouched = o.DeviceTouched;
    r.FusesWritten = o.FusesWritten;
    r.Retries = o.Retries;
    r.EepromCopy = o.EepromCopyPath;
    r.EepromSaved = o.EepromSavedPath;
    r.Log = o.LogPath;
    r.Serial = c.Serial.empty() ? o.Serial : c.Serial;
    r.Port = info.Port;
    return r;
}

std::optional<std::string> KeepInLedger(const std::string& folder, const LedgerRecord& record,
                                        const RunContext& context) {
    LedgerSettings settings;
    settings.DataFolder = folder;
    settings.FloorUrl = context.FloorUrl ? *context.FloorUrl : FloorLedgerSetting({}).Url;
    return LedgerWriter(settings).Keep(record);
}
