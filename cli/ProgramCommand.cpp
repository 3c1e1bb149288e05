// program: one complete update from the command line, from options or a catalogue item.
#include <cstdio>
#include <cstdlib>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueLocation.h"
#include "catalogue/ItemRunValues.h"
#include "cli/Command.h"
#include "cli/ConsoleReport.h"
#include "cli/StopSignals.h"
#include "programming/NumberText.h"
#include "programming/Probes.h"
#include "programming/ProgrammingRun.h"

namespace {
const char* const NoMatch = "This item cannot be programmed using this selection!";

const char* const Help =
    "  --port P          serial port: a name such as ttyUSB0, or a path\n"
    "  --item N          program catalogue item N: the connected chip picks its processor\n"
    "                    entry, which gives firmware, fuses, speed and application length\n"
    "  --catalogue FILE  catalogue for --item (default: Q40Prog.INI beside this program);\n"
    "                    its folder holds Firmware/\n"
    "  --firmware FILE   firmware image: Intel HEX, or raw binary when it ends in .bin\n"
    "  --fuse-lo V       low fuse, 0 to 255 (decimal, or hex after $, 0x or x)\n"
    "  --fuse-hi V       high fuse, 0 to 255\n"
    "  --fuse-ex V       extended fuse, 0 to 255\n"
    "  --speed V         port-time value for the transfers, 0 to 65535 (default 100)\n"
    "  --bootloader N    application length the check value protects, 3 bytes or more\n"
    "                    (default: image size)\n"
    "  --allow-isp-lockout  write fuse values even where they would shut serial programming\n"
    "                    (SPIEN unprogrammed, RSTDISBL or DWEN programmed); without it, or\n"
    "                    Lockout_<k>=YES in the catalogue, such a run is refused before\n"
    "                    any fuse is written\n"
    "  --use-eeprom-copy FILE\n"
    "                    after the erase, write this saved EEPROM copy back instead of the\n"
    "                    EEPROM read from the device (which is saved as a copy first)\n"
    "  --keep-device-eeprom\n"
    "                    where the device's EEPROM may be what an interrupted update left of a\n"
    "                    pending copy (an empty EEPROM, say), go on with it as it is: a new board\n"
    "\nNumbers and the data folder are checked before the port is opened. The EEPROM is read\n"
    "and saved before the chip erase, then written back; the copy, the run's log and\n"
    "runs.jsonl go to $XDG_DATA_HOME/KARDO/Q40Prog (~/.local/share/...).\n"
    "A copy stays pending until it is back in its device. Where the EEPROM read is what an\n"
    "interrupted write-back of a pending copy leaves, that copy is written back instead; where\n"
    "that cannot be told (an empty EEPROM), the run stops before the erase and names the copy.\n"
    "Ctrl-C, SIGTERM or SIGHUP stop the update safely at its next data block, as the window's\n"
    "Abort does: the log, the record and the exit code say where it stopped. A second Ctrl-C\n"
    "does not end it sooner. A closed output pipe or terminal does not end it at all.\n"
    "exit codes: 0 done, 1 failed with the device untouched, 2 usage error,\n"
    "            3 failed after a fuse write or the chip erase: run again (the log names the\n"
    "              fuses written), or restore-eeprom the copy\n";

const char* const StopNotice =
    "q40prog-cli: stopping the update safely at its next data block; its log and record are "
    "written and the exit code tells whether the device was touched.\n";
const char* const StopAgain =
    "q40prog-cli: already stopping; the update ends by itself at its next data block.\n";

int ExitCodeOf(const RunOutcome& o) {
    if (o.Success) return ExitOk;
    return o.DeviceTouched ? ExitDeviceNeedsRun : ExitFailure;
}

int Execute(const Args& args, const RunParams& params, const std::string& firmwareIdPattern,
            const StopSignals& stop) {
    if (stop.Requested())
        return Failure("stopped before the update began; the device is untouched");
    ConsoleReport report(&stop);
    report.AnswerEepromQuestion(args.Flag("--keep-device-eeprom"));
    const RunOptions options{{}, firmwareIdPattern, args.Option("--use-eeprom-copy").value_or("")};
    ProgrammingRun run(params, report, SystemLinkFactory(), options);
    return ExitCodeOf(run.Execute());
}

// As the update action does: chip query, the item's last processor entry naming the chip,
// then the run with that entry's values.
int RunItem(const Command& self, const Args& args, const std::string& port,
            const StopSignals& stop) {
    const std::string itemText = *args.Option("--item");
    char* end = nullptr;
    const long item = std::strtol(itemText.c_str(), &end, 10);
    if (itemText.empty() || *end != '\0' || item < 1 || item > 99)
        return UsageError(self, "--item takes a number from 1 to 99");
    const CatalogueLocation where =
        LocateCatalogue(args.Option("--catalogue"), OwnExecutablePath());
    const Catalogue catalogue(where.CatalogueFile);
    if (!catalogue.Problem().empty()) return Failure(catalogue.Problem());
    const std::string section = "ITEM_" + std::to_string(item);
    if (!catalogue.HasKey(section, "NAME"))
        return Failure("catalogue " + where.CatalogueFile + " has no item " + itemText);
    const ProbeResult chip = QueryChipType(port, SystemLinkFactory());
    if (!chip.Ok) return Failure(chip.Text, chip.Error.Detail);
    const auto values =
        RunValuesForChip(catalogue, where.ProgramFolder, static_cast<int>(item), chip.Text);
    if (!values) return Failure(NoMatch);
    RunParams params{values->FirmwarePath,
                     values->FuseLo,
                     values->FuseHi,
                     values->FuseEx,
                     values->Speed,
                     values->Bootloader,
                     port,
                     values->AllowIspLockout || args.Flag("--allow-isp-lockout")};
    return Execute(args, params, catalogue.ReadValue(section, "VERSION", ""), stop);
}

int RunProgram(const Command& self, const Args& args) {
    RunParams params;
    params.PortName = args.Option("--port").value_or("");
    params.FirmwarePath = args.Option("--firmware").value_or("");
    if (params.PortName.empty()) return UsageError(self, "--port is required");
    if (args.Flag("--keep-device-eeprom") && args.Option("--use-eeprom-copy"))
        return UsageError(self, "give either --use-eeprom-copy or --keep-device-eeprom");
    if (args.Option("--use-eeprom-copy") && args.Option("--use-eeprom-copy")->empty())
        return UsageError(self, "--use-eeprom-copy needs a file");
    if (!args.Positionals().empty()) return UsageError(self, "unexpected argument");
    const bool byItem = args.Option("--item").has_value();
    if (byItem && !params.FirmwarePath.empty())
        return UsageError(self, "give either --firmware or --item");
    const StopSignals stop(StopNotice, StopAgain);
    if (byItem) return RunItem(self, args, params.PortName, stop);
    if (args.Option("--catalogue")) return UsageError(self, "--catalogue goes with --item");
    if (params.FirmwarePath.empty()) return UsageError(self, "--firmware or --item is required");
    params.FuseLo = args.Option("--fuse-lo").value_or("");
    params.FuseHi = args.Option("--fuse-hi").value_or("");
    params.FuseEx = args.Option("--fuse-ex").value_or("");
    params.Speed = args.Option("--speed").value_or("");
    params.Bootloader = args.Option("--bootloader").value_or("");
    params.AllowIspLockout = args.Flag("--allow-isp-lockout");
    // The catalogue falls back to the image size for a Bootloader that is no number; a value
    // typed on the command line is meant as one.
    if (args.Option("--bootloader") && !ParseNumber(params.Bootloader))
        return UsageError(self, "--bootloader needs a number, not '" + params.Bootloader + "'");
    return Execute(args, params, {}, stop);
}

const RegisterCommand reg({"program",
                           "--port P (--firmware FILE [--fuse-lo V] [--fuse-hi V] [--fuse-ex V] "
                           "[--speed V] [--bootloader N] | --item N [--catalogue FILE]) "
                           "[--use-eeprom-copy FILE | --keep-device-eeprom] [--allow-isp-lockout]",
                           "Update the connected device: fuses, EEPROM kept, flash programmed and "
                           "verified.",
                           Help,
                           {"--port", "--firmware", "--fuse-lo", "--fuse-hi", "--fuse-ex",
                            "--speed", "--bootloader", "--item", "--catalogue",
                            "--use-eeprom-copy"},
                           {"--keep-device-eeprom", "--allow-isp-lockout"},
                           RunProgram});
}  // namespace
