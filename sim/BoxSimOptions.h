#pragma once
// The command line of q40prog-boxsim.

#include <string>
#include <vector>

#include "sim/BoxConfig.h"
#include "sim/WireSchedule.h"

struct BoxSimOptions {
    BoxConfig Box;
    WireOptions Wire;
    std::string LinkPath;  // a symlink to the port, when given
    std::string FlashIn, EepromIn;
    std::string DumpFlash, DumpEeprom;
    bool Stats = false;
    std::string StatsFile;  // empty: the statistics go to stderr
    bool Help = false;
};

// Fills 'options' from the arguments after the program name; false with a message in
// 'error' for anything it cannot use.
bool ParseBoxSimOptions(const std::vector<std::string>& args, BoxSimOptions& options,
                        std::string& error);

// "123" or "0x7B": no sign, nothing after the digits, at most 'max'.
bool ParseAddressOrCount(const std::string& text, unsigned long long max,
                         unsigned long long& value);

extern const char* const BoxSimUsage;
