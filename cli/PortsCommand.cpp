#include <cstdio>

#include "cli/Command.h"
#include "link/PortList.h"

namespace {
int RunPorts(const Command& self, const Args& args) {
    if (!args.Positionals().empty()) return UsageError(self, "unexpected argument");
    const bool details = args.Flag("--details");
    for (const SerialPortInfo& port : ListSerialPorts()) {
        if (!details) {
            std::printf("%s\n", port.Name.c_str());
            continue;
        }
        std::printf("%-10s %s\n", port.Name.c_str(), PortDescription(port).c_str());
        if (!port.ById.empty()) std::printf("%-10s %s\n", "", port.ById.c_str());
    }
    return ExitOk;
}

const RegisterCommand reg({"ports",
                           "[--details]",
                           "List this machine's serial ports, one per line.",
                           "  --details  also what each port is and its stable name\n"
                           "\n"
                           "Listing opens no port.\n",
                           {},
                           {"--details"},
                           RunPorts});
}  // namespace
