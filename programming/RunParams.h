#pragma once
// What one update needs, as the catalogue gives it: texts, converted only when used.

#include <string>

struct RunParams {
    std::string FirmwarePath;
    std::string FuseLo;
    std::string FuseHi;
    std::string FuseEx;
    std::string Speed;       // port-time value; empty keeps 100
    std::string Bootloader;  // image length for the check value; empty or no number: loaded size
    std::string PortName;
    // Fuse values that would shut serial programming are written only when this is set.
    bool AllowIspLockout = false;
    // The chip the values are meant for, as the DeviceTable names it (the catalogue's
    // processor entry that matched); empty when only the run's identification will tell.
    std::string Chip = {};
    // Serial_<k>: where the board's EEPROM holds its serial, "ADDR:LENGTH[:text|hex]"; empty:
    // nowhere known.
    std::string SerialLocation = {};
};
