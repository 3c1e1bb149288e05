// select: ask a running Q40Prog to select the catalogue items of a firmware identifier.
#include <cstdio>

#include "cli/Command.h"
#include "shell/InstanceLock.h"
#include "shell/InstanceProtocol.h"

namespace {
int RunSelect(const Command& self, const Args& args) {
    if (args.Positionals().size() != 1) return UsageError(self, "give exactly one identifier");
    const std::string& id = args.Positionals()[0];
    if (id.size() > instance::MaxCopyDataBytes)
        return UsageError(self, "identifier too long for the running copy's endpoint: " +
                                    std::to_string(id.size()) + " bytes, at most " +
                                    std::to_string(instance::MaxCopyDataBytes));
    const std::string endpoint = InstanceEndpointPath();
    if (!EndpointPathFits(endpoint))
        return Failure("the endpoint path " + endpoint +
                       " is too long for a local socket; set XDG_RUNTIME_DIR to a shorter folder");
    // The lock tells whether a copy runs; the wait only how long to give it to answer.
    if (!InstanceLock::HeldAt(InstanceLockPath(endpoint)))
        return Failure("no running Q40Prog found (" + endpoint + ")");
    const auto answer = SendInstanceRequest(EncodeCopyData(0, id), endpoint, instance::AnswerWaitMs,
                                            /*retryConnect=*/true);
    if (!answer)
        return Failure("Q40Prog runs but did not answer within " +
                       std::to_string(instance::AnswerWaitMs / 1000) +
                       " s (busy or stopped); try again");
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
