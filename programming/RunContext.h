#pragma once
// What a run's record says beyond what the run itself finds: where and by whom it ran, from
// which catalogue item, for which board, and which floor ledger hears of it. The front ends
// fill it; an empty field leaves the run's own default (the host name, the configured floor).

#include <cstdint>
#include <optional>
#include <string>

struct RunContext {
    std::string Station;   // empty: the host name
    std::string Operator;  // may stay empty
    std::string Serial;    // the board's serial as given; empty: read from its EEPROM, if known
    // The operation as the ledger names it, when the front end's differs from the run's own
    // (a station's updates are "station"); empty: the run's own.
    std::string Operation;
    std::string Catalogue;  // the catalogue file, for an item's run
    int32_t ItemNumber = 0;
    std::string ItemName;
    // nullopt: as configured (Q40PROG_LEDGER, then the configuration file); "": none.
    std::optional<std::string> FloorUrl;
};
