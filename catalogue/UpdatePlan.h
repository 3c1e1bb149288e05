#pragma once
// The update action up to the run: the item's firmware, the connected chip, the last
// processor entry that names it, and the run's parameters from that entry. The window shows
// the programming window with them, the command line runs them; neither copies fields.

#include <functional>
#include <string>
#include <vector>

#include "programming/RunParams.h"

class Catalogue;

// Shown when no processor entry of the item names the connected chip.
extern const char* const NoMatchText;

// Asks the box on the port which chip is connected; the empty text after a failure, which
// the query has reported itself.
using ChipQuery = std::function<std::string(const std::string& port)>;

struct UpdatePlan {
    enum Kind {
        Ready,            // Params and FirmwareIdText are filled
        ChipQueryFailed,  // nothing more to say: the query has reported its failure
        NoMatch,          // say NoMatchText
    };
    Kind Result = ChipQueryFailed;
    std::string Chip;
    RunParams Params;
    std::string FirmwareIdText;  // the item's identifier pattern (VERSION), for the record
    std::vector<std::string> ListedChips;  // with NoMatch: the chips the item's entries name
};

// What goes with NoMatchText, on a line of its own: the chip connected and the chips the
// item lists, so that the technician sees which board or which item is the wrong one.
std::string NoMatchDetail(const UpdatePlan& plan);

// Reads the item's Firmware before the chip query and its processor entries after it, as
// often as the user may have edited the catalogue in between.
UpdatePlan PlanItemUpdate(const Catalogue& catalogue, const std::string& programFolder,
                          int itemNumber, const std::string& port, const ChipQuery& queryChip);
