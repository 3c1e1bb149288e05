#pragma once
// What program and station are asked to write, from their options, and one update of the
// device on one port with it. Both commands share this, so an option means the same in each.

#include <optional>
#include <string>
#include <vector>

#include "catalogue/CatalogueLocation.h"
#include "cli/Args.h"
#include "cli/RunContextOptions.h"
#include "programming/LinkFactory.h"
#include "programming/RunParams.h"
#include "programming/RunRecord.h"
#include "programming/RunReport.h"

class StopSignals;

struct UpdateRequest {
    std::vector<std::string> Ports;  // as given, in order
    std::optional<int> Item;         // --item: the catalogue gives the values per chip
    CatalogueLocation Where;         // with --item
    RunParams Values;                // with --firmware: all but the port
    bool AllowIspLockout = false;
    bool KeepDeviceEeprom = false;
    std::string UseEepromCopy;
    RunContext Context;      // --station, --operator, --serial, --ledger; the item's catalogue
    bool AskSerial = false;  // station --ask-serial: each board's serial is asked for
};

// Fills the request from the options; the usage problem, empty when they make sense.
std::string ReadUpdateRequest(const Args& args, UpdateRequest& request);

// With --item: whether the catalogue can be read and has the item. The failure's text, empty
// when it is fine.
std::string CheckRequestedItem(const UpdateRequest& request);

struct PortUpdate {
    bool Ran = false;  // a run was made, with its log file and record line
    // Without a run (the chip query failed, no processor entry names the chip, a stop came
    // first) Code, Message and Detail say why; the device is untouched.
    RunOutcome Outcome;
    // Without a run: what a record line of it says besides the outcome.
    RunRecordInfo Record;
};

// One update of the device on 'port': with --item the update action first (chip query, the
// processor entry naming the chip), skipping the query when 'knownChip' says what answered.
// No run begins once 'stop' has been requested.
// 'serial', when given, is the board's serial (a station asked for it).
PortUpdate UpdateDevice(const UpdateRequest& request, const std::string& port, IRunReport& report,
                        const LinkFactory& makeLink, const StopSignals& stop,
                        const std::string& knownChip = {}, const std::string& serial = {});
