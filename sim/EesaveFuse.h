#pragma once
// Where a chip keeps its EESAVE fuse bit: programmed (0), the chip erase leaves the EEPROM as
// it is. Positions as avr-libc's per-chip headers define FUSE_EESAVE.

#include <optional>

#include "link/DeviceTable.h"
#include "link/Fuses.h"

struct EesaveBit {
    FuseByte Fuse;
    int Bit;
};

// None for the chips without the fuse (the AT90S chips, the ATmega163): their erase always
// clears the EEPROM.
std::optional<EesaveBit> EesaveOf(const DeviceEntry& chip);
