#include "cli/RunContextOptions.h"
#include "cli/HelpWords.h"

#include "ledger/LedgerConfig.h"

namespace {
const char* const Head =
    "\nFor the run's record (runs.jsonl and the ledger):\n"
    "  --station NAME    the station's name (default: the host name)\n"
    "  --operator NAME   who runs it\n";
const char* const SerialHelp =
    "  --serial TEXT     the board's serial number; one board only. Without it, an item's\n"
    "                    Serial_<k>=ADDR:LENGTH[:text|hex] beside its processor entry reads\n"
    "                    it from the EEPROM the update reads anyway\n";
const char* const LedgerHelp =
    "  --ledger URL      the floor's PostgreSQL ledger (postgresql://...); \"\" for none.\n"
    "                    Default: Q40PROG_LEDGER, else ledger= in\n"
    "                    " Q40_CONFIG_FILE
    ". Every record also goes into\n"
    "                    ledger.sqlite in the data folder; one the floor cannot take now\n"
    "                    waits there for the next run or q40prog-cli ledger sync\n";
}  // namespace

std::string RunContextHelp(bool serial) {
    return std::string(Head) + (serial ? SerialHelp : "") + LedgerHelp;
}

std::set<std::string> WithRunContext(std::set<std::string> valued) {
    valued.insert({"--station", "--operator", "--serial", "--ledger"});
    return valued;
}

bool TakesRunContext(const std::set<std::string>& valued) {
    return valued.count("--operator") != 0;
}

std::string ReadRunContext(const Args& args, RunContext& c, bool serial) {
    for (const char* option : {"--station", "--operator", "--serial"})
        if (const auto v = args.Option(option); v && v->empty())
            return std::string(option) + " needs a value, not an empty one";
    if (!serial && args.Option("--serial"))
        return "--serial goes with one --port: each board has its own";
    c.Station = args.Option("--station").value_or("");
    c.Operator = args.Option("--operator").value_or("");
    c.Serial = args.Option("--serial").value_or("");
    if (const auto url = args.Option("--ledger")) {
        if (!url->empty() && !IsFloorUrl(*url))
            return "--ledger takes a postgresql:// address, not '" + *url + "'";
        c.FloorUrl = *url;
    }
    return {};
}
