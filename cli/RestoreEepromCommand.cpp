// restore-eeprom: write a saved EEPROM copy back into the device.
#include "cli/Command.h"
#include "cli/ConsoleReport.h"
#include "cli/HelpWords.h"
#include "cli/RunContextOptions.h"
#include "cli/StopSignals.h"
#include "programming/EepromRestore.h"

namespace {
int RunRestore(const Command& self, const Args& args) {
    const auto port = args.Option("--port");
    if (!port || port->empty()) return UsageError(self, "--port is required");
    if (args.Positionals().size() != 1) return UsageError(self, "give exactly one EEPROM copy");
    if (args.Positionals()[0].empty())
        return UsageError(self, "the EEPROM copy's file name is empty");
    const StopSignals stop(
        "q40prog-cli: stopping the restore safely: before it writes, it ends with the device "
        "untouched; once it writes, it first finishes and verifies the copy.\n",
        "q40prog-cli: already stopping; the restore ends by itself as soon as it safely can.\n");
    RunContext context;
    if (const std::string problem = ReadRunContext(args, context); !problem.empty())
        return UsageError(self, problem);
    ConsoleReport report(&stop);
    const RunOutcome o =
        RestoreEeprom(*port, args.Positionals()[0], report, SystemLinkFactory(), {}, context);
    if (o.Success) return ExitOk;
    return o.DeviceTouched ? ExitDeviceNeedsRun : ExitFailure;
}

const RegisterCommand reg(
    {"restore-eeprom",
     "--port P [--station NAME] [--operator NAME] [--serial TEXT] [--ledger URL] FILE",
     "Write a saved EEPROM copy back into the device and verify it.",
     "  --port P   serial port: a name such as " Q40_PORT_EXAMPLE ", or a path\n"
     "  FILE       a copy saved by a programming run "
     "(eeprom-<chip>-<port>-<time>.bin)\n"
     "\nThe chip is identified first; a copy of another chip or size is "
     "refused.\nThe device's EEPROM is saved as a copy of its own, then "
     "every byte of the copy\nis written and the whole EEPROM verified. "
     "Only the EEPROM is written; flash\nand fuses stay as they are. The "
     "log and runs.jsonl are kept as for a programming run.\n"
     "Ctrl-C or SIGTERM before it writes end it with the device "
     "untouched; once it\nwrites, it first finishes and verifies the "
     "copy. A closed terminal (SIGHUP) does\nnot end it.\n"
     "exit codes: 0 done, 1 failed with the device untouched, 2 usage "
     "error,\n            3 failed while writing: the EEPROM is "
     "incomplete, run again\n",
     WithRunContext({"--port"}),
     {},
     RunRestore});
}  // namespace
