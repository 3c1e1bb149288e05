// q40prog-cli: the updater's command line, on the core libraries only (no Qt).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "cli/RunContextOptions.h"
#include "link/StandardDescriptors.h"
#include "programming/RunGuard.h"

namespace {
std::vector<Command>& Registry() {
    static std::vector<Command> commands;
    return commands;
}

void PrintMainUsage(FILE* out) {
    std::fprintf(out,
                 "usage: q40prog-cli COMMAND [OPTIONS]\n\nKARDO Q-Series firmware updater, command "
                 "line.\n\ncommands:\n");
    for (const Command& c : Commands()) std::fprintf(out, "  %-15s %s\n", c.Name, c.Summary);
    std::fprintf(
        out,
        "\nq40prog-cli COMMAND --help describes a command.\n"
        "exit codes: 0 done, 1 failed, 2 usage error, 3 failed after the device was changed\n");
}
}  // namespace

RegisterCommand::RegisterCommand(const Command& c) {
    auto& r = Registry();
    r.push_back(c);
    std::sort(r.begin(), r.end(),
              [](const Command& a, const Command& b) { return std::strcmp(a.Name, b.Name) < 0; });
}

const std::vector<Command>& Commands() {
    return Registry();
}

void PrintCommandUsage(const Command& c, bool toStderr) {
    FILE* out = toStderr ? stderr : stdout;
    std::fprintf(out, "usage: q40prog-cli %s %s\n\n%s\n", c.Name, c.Synopsis, c.Summary);
    if (c.Help && *c.Help) std::fprintf(out, "\n%s", c.Help);
    // The station asks each board for its serial (--ask-serial) and refuses one --serial.
    if (TakesRunContext(c.Valued))
        std::fputs(RunContextHelp(c.Flags.count("--ask-serial") == 0).c_str(), out);
}

int UsageError(const Command& c, const std::string& problem) {
    std::fprintf(stderr, "q40prog-cli %s: %s\n\n", c.Name, problem.c_str());
    PrintCommandUsage(c, true);
    return ExitUsage;
}

int Failure(const std::string& text, const std::string& detail) {
    std::fprintf(stderr, "q40prog-cli: %s\n", text.c_str());
    // Each line of the detail indented: a port's troubles come one per line.
    for (std::size_t start = 0; start < detail.size();) {
        const std::size_t end = std::min(detail.find('\n', start), detail.size());
        std::fprintf(stderr, "  %s\n", detail.substr(start, end - start).c_str());
        start = end + 1;
    }
    return ExitFailure;
}

int main(int argc, char** argv) {
    if (!OpenClosedStandardDescriptors()) return ExitFailure;  // before any file is opened
    if (argc < 2) {
        PrintMainUsage(stderr);
        return ExitUsage;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintMainUsage(stdout);
        return ExitOk;
    }
    for (const Command& c : Commands()) {
        if (name != c.Name) continue;
        std::vector<std::string> rest(argv + 2, argv + argc);
        if (std::find(rest.begin(), rest.end(), "--help") != rest.end() ||
            std::find(rest.begin(), rest.end(), "-h") != rest.end()) {
            PrintCommandUsage(c, false);
            return ExitOk;
        }
        Args args(rest, c.Valued, c.Flags, c.Repeatable);
        if (!args.Ok()) return UsageError(c, args.ErrorText());
        // The runs end their own faults; one anywhere else still gets words and an exit code.
        try {
            return c.Run(c, args);
        } catch (const std::exception& e) {
            const EProgError fault = InternalFailure(e.what());
            return Failure(GetErrorText(fault.Code), fault.Detail);
        }
    }
    std::fprintf(stderr, "q40prog-cli: unknown command '%s'\n\n", name.c_str());
    PrintMainUsage(stderr);
    return ExitUsage;
}
