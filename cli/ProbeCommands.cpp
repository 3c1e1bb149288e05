// check and chip: the two probes of the programmer box.
#include <cstdio>

#include "cli/Command.h"
#include "cli/HelpWords.h"
#include "programming/Probes.h"

namespace {
const char* const PortHelp =
    "  --port P   serial port: a name such as " Q40_PORT_EXAMPLE ", or a path\n";

int RunProbeCommand(const Command& self, const Args& args,
                    ProbeResult (*probe)(const std::string&, const LinkFactory&)) {
    const auto port = args.Option("--port");
    if (!port || port->empty()) return UsageError(self, "--port is required");
    if (!args.Positionals().empty()) return UsageError(self, "unexpected argument");
    const ProbeResult r = probe(*port, SystemLinkFactory());
    if (!r.Ok) return Failure(r.Text, r.Error.Detail);
    std::printf("%s\n", r.Text.c_str());
    return ExitOk;
}

int RunCheck(const Command& self, const Args& args) {
    return RunProbeCommand(self, args, CheckProgrammer);
}
int RunChip(const Command& self, const Args& args) {
    return RunProbeCommand(self, args, [](const std::string& port, const LinkFactory& makeLink) {
        return QueryChipType(port, makeLink);
    });
}

const RegisterCommand check({"check",
                             "--port P",
                             "Ask the programmer box on port P for its version.",
                             PortHelp,
                             {"--port"},
                             {},
                             RunCheck});
const RegisterCommand chip({"chip",
                            "--port P",
                            "Identify the chip connected to the programmer box on port P.",
                            PortHelp,
                            {"--port"},
                            {},
                            RunChip});
}  // namespace
