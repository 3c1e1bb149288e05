#include <cstdio>

#include "cli/Command.h"
#include "link/PortList.h"

namespace {
int RunPorts(const Command& self, const Args& args) {
    if (!args.Positionals().empty()) return UsageError(self, "unexpected argument");
    for (const std::string& port : EnumerateSerialPorts()) std::printf("%s\n", port.c_str());
    return ExitOk;
}

const RegisterCommand reg(
    {"ports", "", "List this machine's serial ports, one per line.", "", {}, {}, RunPorts});
}  // namespace
