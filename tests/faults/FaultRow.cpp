#include "tests/faults/FaultRow.h"

namespace {
const char* const Layout = "%-34s %-22s %-66s %7s  %-22s %-12s %s\n";
}

void PrintHeader(std::FILE* out) {
    std::fprintf(out, Layout, "fault", "phase", "outcome", "seconds", "eeprom", "port", "verdict");
}

void PrintRow(std::FILE* out, const FaultRow& row) {
    char seconds[16];
    std::snprintf(seconds, sizeof seconds, "%.2f", row.Seconds);
    std::fprintf(out, Layout, row.Fault.c_str(), row.Phase.c_str(), row.Outcome.c_str(), seconds,
                 row.Eeprom.c_str(), row.Port.c_str(), row.Ok() ? "ok" : "BROKEN");
    for (const std::string& p : row.Problems) std::fprintf(out, "    ! %s\n", p.c_str());
    std::fflush(out);
}
