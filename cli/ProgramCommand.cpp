// program: complete updates from the command line, from options or a catalogue item, of the
// device on one port or of the devices on several at once.
#include "cli/Command.h"
#include "cli/ConsoleReport.h"
#include "cli/HelpWords.h"
#include "cli/ResultTable.h"
#include "cli/RunContextOptions.h"
#include "cli/SeveralPorts.h"
#include "cli/StopSignals.h"
#include "cli/UpdateRequest.h"
#include "programming/Probes.h"

namespace {
const char* const Help =
    "  --port P          serial port: a name such as " Q40_PORT_EXAMPLE
    ", or a path; give it once per\n"
    "                    port to update the devices on several ports at once\n"
    "  --item N          program catalogue item N: the connected chip picks its processor\n"
    "                    entry, which gives firmware, fuses, speed and application length\n"
    "                    (so --fuse-lo, --fuse-hi, --fuse-ex, --speed, --bootloader do not\n"
    "                    go with it)\n"
    "  --catalogue FILE  catalogue for --item (default: Q40Prog.INI beside this program);\n"
    "                    its folder holds Firmware/\n"
    "  --firmware FILE   firmware image: Intel HEX, or raw binary when it ends in .bin\n"
    "  --fuse-lo V       low fuse, 0 to 255 (decimal, or hex after $, 0x or x); each fuse\n"
    "                    is read back after its write and must then hold V in the bits the\n"
    "                    chip has; one the chip lacks (the AT90S chips have none, two-fuse\n"
    "                    chips such as the ATtiny13 or ATmega8 no extended fuse) is refused\n"
    "                    before anything is written\n"
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
    "                    EEPROM read from the device (which is saved as a copy first);\n"
    "                    one --port only\n"
    "  --keep-device-eeprom\n"
    "                    where the device's EEPROM may be what an interrupted update left of a\n"
    "                    pending copy (an empty EEPROM, say), go on with it as it is: a new board\n"
    "\nEach option is given once (only --port may be repeated), with a value where it takes one.\n"
    "Numbers and the data folder are checked before the port is opened. The EEPROM is read\n"
    "and saved before the chip erase, then written back; the copy, the run's log and\n"
    "runs.jsonl go to " Q40_DATA_FOLDER_SHOWN
    ".\n"
    "A copy stays pending until it is back in its device. Where the EEPROM read can only be\n"
    "what an interrupted write-back of one pending copy leaves, that copy is written back\n"
    "instead; where another board could look the same (an empty EEPROM, bytes that other\n"
    "boards hold too), the run stops before the erase and names the copies. A copy other than\n"
    "the EEPROM read is written wherever the erase may have left other bytes (EESAVE) and\n"
    "verified whole. A record of pending copies that cannot be read or written stops the run\n"
    "before the erase.\n"
    "Ctrl-C or SIGTERM stop the update safely, as the window's Abort does. Up to the erase it\n"
    "ends before its next fuse write or the erase, so a stop before the first fuse write\n"
    "leaves the device untouched; from the erase on, the EEPROM is written back and verified\n"
    "first and the update stops before the flash; during the flash it stops at the next data\n"
    "block. The log, the record and the exit code say where it stopped. A second Ctrl-C does\n"
    "not end it sooner. A closed output pipe or terminal (SIGHUP) does not end it at all: it\n"
    "carries on to its end and writes its log and record.\n"
    "\nSeveral ports: one update per port at the same time, each with its own EEPROM copy,\n"
    "log and record line; a port whose chip does not answer, or is not among the item's, gets\n"
    "its record line too. Log lines come prefixed with their port; on a terminal a line per\n"
    "port below them shows chip, phase, percent and time left. A table at the end gives\n"
    "port, chip, outcome, seconds and EEPROM copy. A port given twice (under any name) is\n"
    "updated once; its later mention fails as a port in use. Ctrl-C stops every update.\n"
    "The exit code is that of the worst: 0 when every device is done.\n"
    "exit codes: 0 done, 1 failed with the device untouched, 2 usage error,\n"
    "            3 failed after a fuse write or the chip erase: run again (the log names the\n"
    "              fuses written), or restore-eeprom the copy\n";

const char* const StopNotice =
    "q40prog-cli: stopping the update safely before its next write, or once the EEPROM is "
    "back in the device; its log and record are written and the exit code tells whether the "
    "device was touched.\n";
const char* const StopAgain =
    "q40prog-cli: already stopping; the update ends by itself as soon as it safely can.\n";

// The update on one port, told as a single run tells it.
int ProgramOnePort(const UpdateRequest& request) {
    const StopSignals stop(StopNotice, StopAgain);
    if (const std::string problem = CheckRequestedItem(request); !problem.empty())
        return Failure(problem);
    ConsoleReport report(&stop);
    report.AnswerEepromQuestion(request.KeepDeviceEeprom);
    const PortUpdate u =
        UpdateDevice(request, request.Ports.front(), report, SystemLinkFactory(), stop);
    if (!u.Ran) return Failure(u.Outcome.Message, u.Outcome.Detail);
    return ExitCodeOf(u.Outcome);
}

int RunProgram(const Command& self, const Args& args) {
    UpdateRequest request;
    if (const std::string problem = ReadUpdateRequest(args, request); !problem.empty())
        return UsageError(self, problem);
    if (request.Ports.size() > 1) return ProgramSeveralPorts(request);
    return ProgramOnePort(request);
}

const RegisterCommand reg(
    {"program",
     "--port P [--port P ...] (--firmware FILE [--fuse-lo V] [--fuse-hi V] [--fuse-ex V] "
     "[--speed V] [--bootloader N] | --item N [--catalogue FILE]) "
     "[--use-eeprom-copy FILE | --keep-device-eeprom] [--allow-isp-lockout] [--station NAME] "
     "[--operator NAME] [--serial TEXT] [--ledger URL]",
     "Update the connected device: fuses, EEPROM kept, flash programmed and "
     "verified.",
     Help,
     WithRunContext({"--port", "--firmware", "--fuse-lo", "--fuse-hi", "--fuse-ex", "--speed",
                     "--bootloader", "--item", "--catalogue", "--use-eeprom-copy"}),
     {"--keep-device-eeprom", "--allow-isp-lockout"},
     RunProgram,
     {"--port"}});
}  // namespace
