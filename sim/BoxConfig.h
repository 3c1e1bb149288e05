#pragma once
// What the simulated programmer box and its target are, and which faults they show.

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "link/Fuses.h"

struct BoxConfig {
    std::string Chip = "ATmega644P";  // any DeviceTable name
    int VersionMajor = 2;
    int VersionMinor = 5;

    // Faults.
    bool NoTarget = false;     // Programming Enable never answered with 0x53
    bool BadEcho = false;      // command letters come back altered
    bool Silent = false;       // nothing is ever answered
    long long DropAfter = -1;  // stop answering after this many received bytes; -1 never
    int EnableOnAttempt = 1;   // the Programming Enable attempt that first succeeds
    // Read-back of the block holding ADDR differs this many times, then matches.
    std::map<uint32_t, int> FlakyFlash, FlakyEeprom;
    // Read-back of the block holding ADDR never matches.
    std::set<uint32_t> StuckFlash, StuckEeprom;
    // Writes of these fuse bytes do not take: the fuse keeps what it held.
    std::set<FuseByte> StuckFuses;

    // Boards come and go on a production bench (ConnectTarget, RemoveTarget).
    bool TargetAbsent = false;  // at the start no target is connected
    // The board is taken off once this many bytes were received, before the next is handled;
    // -1 never. Taken off as RemoveTarget takes it, so a board connected later stays on.
    long long TargetOffAfter = -1;

    // Realism.
    bool WriteDelays = false;  // the chip's own write times before the next echo
};
