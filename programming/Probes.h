#pragma once
// The two quick probes: programmer check and chip query. Toolkit-free; the windows
// put the result in a message box, the command line prints it.

#include <string>

#include "link/PortDoctor.h"
#include "link/ProgError.h"
#include "programming/LinkFactory.h"

struct ProbeResult {
    bool Ok = false;
    std::string Text;  // the version text or chip name; the failure code's fixed text otherwise
    // Meaningful when !Ok. Its Detail goes below the text, one line each: the link's own
    // detail, then the causes the system shows for a port or box failure.
    EProgError Error;
};

// Opens, resets and reads the box's version; never enters programming mode.
ProbeResult CheckProgrammer(const std::string& portName, const LinkFactory& makeLink);
// Opens, resets, port time 100, programming mode, signature, leaves programming mode.
// 'explain': a port or box failure names the causes the system shows (which takes a look
// at every process); a station asking every second for the next board leaves that out.
ProbeResult QueryChipType(const std::string& portName, const LinkFactory& makeLink,
                          bool explain = true);

// The port doctor's last check: whether a box answers on the port with its version.
PortFinding ProgrammerAnswers(const std::string& portName, const LinkFactory& makeLink);
