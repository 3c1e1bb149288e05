// program: one complete update from the command line.
#include "cli/Command.h"
#include "cli/ConsoleReport.h"
#include "programming/ProgrammingRun.h"

namespace {
const char* const Help =
    "  --port P          serial port: a name such as ttyUSB0, or a path\n"
    "  --firmware FILE   firmware image: Intel HEX, or raw binary when it ends in .bin\n"
    "  --fuse-lo V       low fuse (decimal, or hex after $, 0x or x)\n"
    "  --fuse-hi V       high fuse\n"
    "  --fuse-ex V       extended fuse\n"
    "  --speed V         port-time value for the transfers (default 100)\n"
    "  --bootloader N    application length the check value protects (default: image size)\n"
    "\nThe EEPROM is read and saved before the chip erase, then written back; the copy, the\n"
    "run's log and runs.jsonl go to $XDG_DATA_HOME/KARDO/Q40Prog (~/.local/share/...).\n"
    "exit codes: 0 done, 1 failed with the device untouched, 2 usage error,\n"
    "            3 failed after the chip erase: run again, or restore-eeprom the copy\n";

int ExitCodeOf(const RunOutcome& o) {
    if (o.Success) return ExitOk;
    return o.DeviceTouched ? ExitDeviceNeedsRun : ExitFailure;
}

int RunProgram(const Command& self, const Args& args) {
    RunParams params;
    params.PortName = args.Option("--port").value_or("");
    params.FirmwarePath = args.Option("--firmware").value_or("");
    if (params.PortName.empty()) return UsageError(self, "--port is required");
    if (params.FirmwarePath.empty()) return UsageError(self, "--firmware is required");
    if (!args.Positionals().empty()) return UsageError(self, "unexpected argument");
    params.FuseLo = args.Option("--fuse-lo").value_or("");
    params.FuseHi = args.Option("--fuse-hi").value_or("");
    params.FuseEx = args.Option("--fuse-ex").value_or("");
    params.Speed = args.Option("--speed").value_or("");
    params.Bootloader = args.Option("--bootloader").value_or("");
    ConsoleReport report;
    ProgrammingRun run(params, report, SystemLinkFactory(), RunOptions{});
    return ExitCodeOf(run.Execute());
}

const RegisterCommand reg({"program",
                           "--port P --firmware FILE [--fuse-lo V] [--fuse-hi V] [--fuse-ex V] "
                           "[--speed V] [--bootloader N]",
                           "Update the connected device: fuses, EEPROM kept, flash programmed and "
                           "verified.",
                           Help,
                           {"--port", "--firmware", "--fuse-lo", "--fuse-hi", "--fuse-ex",
                            "--speed", "--bootloader"},
                           {},
                           RunProgram});
}  // namespace
