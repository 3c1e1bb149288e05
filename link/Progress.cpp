#include "link/Progress.h"

const char* ProgressPhaseName(int32_t phase) {
    static const char* const names[] = {
        "phVerifyFlash",  "phFlashVerified",  "phProgramFlash",  "phFlashProgrammed",
        "phReadFlash",    "phFlashRead",      "phReadEeprom",    "phEepromRead",
        "phVerifyEeprom", "phEepromVerified", "phProgramEeprom", "phEepromProgrammed",
    };
    if (phase < 0 || phase > 11) return "";
    return names[phase];
}
