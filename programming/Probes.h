#pragma once
// The two quick probes: programmer check and chip query. Toolkit-free; the windows
// put the result in a message box, the command line prints it.

#include <string>

#include "link/ProgError.h"
#include "programming/LinkFactory.h"

struct ProbeResult {
    bool Ok = false;
    std::string Text;  // the version text or chip name; the failure code's fixed text otherwise
    EProgError Error;  // meaningful when !Ok; its Detail goes below the text
};

// Opens, resets and reads the box's version; never enters programming mode.
ProbeResult CheckProgrammer(const std::string& portName, const LinkFactory& makeLink);
// Opens, resets, port time 100, programming mode, signature, leaves programming mode.
ProbeResult QueryChipType(const std::string& portName, const LinkFactory& makeLink);
