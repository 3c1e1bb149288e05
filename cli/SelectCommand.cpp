// select: ask a running Q40Prog to select the catalogue items of a firmware identifier.
#include <cstdio>

#include "cli/Command.h"
#include "shell/InstanceProtocol.h"

namespace {
int RunSelect(const Command& self, const Args& args) {
    if (args.Positionals().size() != 1) return UsageError(self, "give exactly one identifier");
    const auto answer = SendInstanceRequest(EncodeCopyData(0, args.Positionals()[0]));
    if (!answer) return Failure("no running Q40Prog found (" + InstanceEndpointPath() + ")");
    std::printf("%d\n", *answer);
    return ExitOk;
}

const RegisterCommand reg({"select",
                           "ID",
                           "Select the items of firmware identifier ID in the running Q40Prog.",
                           "  ID   a firmware identifier such as AB1+5; characters 1, 2, 3 and 5 "
                           "count\n\nPrints the running copy's answer (1).\n",
                           {},
                           {},
                           RunSelect});
}  // namespace
