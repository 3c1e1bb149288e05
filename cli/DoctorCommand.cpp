// doctor: every check of a port, with its verdict, and whether a box answers on it.
#include <cstdio>
#include <string>

#include "cli/Command.h"
#include "cli/HelpWords.h"
#include "link/PortDoctor.h"
#include "programming/Probes.h"

namespace {
constexpr int CheckColumn = 12, VerdictColumn = 7;

// Further lines of a finding (a port's stable name) start under its text.
void PrintFinding(const PortFinding& f) {
    std::string text = f.Text;
    const std::string indent = "\n" + std::string(CheckColumn + VerdictColumn + 2, ' ');
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += indent.size())
        text.replace(at, 1, indent);
    std::printf("%-*s %-*s %s\n", CheckColumn, f.Check.c_str(), VerdictColumn,
                VerdictText(f.Result), text.c_str());
}

int RunDoctor(const Command& self, const Args& args) {
    const auto port = args.Option("--port");
    if (!port || port->empty()) return UsageError(self, "--port is required");
    if (!args.Positionals().empty()) return UsageError(self, "unexpected argument");
    const DoctorSystem sys = ThisMachine();
    std::vector<PortFinding> findings = ExaminePort(*port, sys);
    // Opening /dev/tty or /dev/ptmx would send the box's reset and its 'V' somewhere else.
    const PortFacts facts = GatherPortFacts(*port, sys);
    findings.push_back(facts.NotSerial
                           ? PortFinding{"programmer", Verdict::Note,
                                         "not asked: " + facts.Given + " is not a serial port."}
                           : ProgrammerAnswers(*port, SystemLinkFactory()));
    bool problem = false;
    for (const PortFinding& f : findings) {
        PrintFinding(f);
        problem = problem || f.Result == Verdict::Problem;
    }
    return problem ? ExitFailure : ExitOk;
}

const RegisterCommand doctor(
    {"doctor",
     "--port P",
     "Check port P for the usual troubles and ask the box on it for its version.",
     "  --port P   serial port: a name such as " Q40_PORT_EXAMPLE ", or a path\n"
     "\n"
     "One line per check: its name, ok, PROBLEM or note, and what was found, with the cure\n"
     "for a problem. Checks: the device, your rights on it, other programs holding it,\n"
     "ModemManager, brltty, and whether the programmer box answers (this resets the box).\n"
     "A device that is not a serial port (/dev/null, /dev/tty) is a problem, and is not\n"
     "opened. A holder that is an update of this program is named as such: wait for it.\n"
     "Exit code 0 when nothing is wrong, 1 when a check found a problem.\n",
     {"--port"},
     {},
     RunDoctor});
}  // namespace
