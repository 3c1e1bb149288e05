// station: a production bench that updates every board as it is connected.
#include "cli/Command.h"
#include "cli/RunContextOptions.h"
#include "cli/SamePort.h"
#include "cli/Station.h"
#include "cli/UpdateRequest.h"
#include "link/PortNode.h"

namespace {
const char* const Help =
    "  --port P          serial port with a programmer box; give it once per box\n"
    "  --item N          catalogue item N: each board's chip picks the processor entry,\n"
    "                    which gives firmware, fuses, speed and application length\n"
    "  --catalogue FILE  catalogue for --item (default: Q40Prog.INI beside this program)\n"
    "  --firmware FILE   firmware image: Intel HEX, or raw binary when it ends in .bin\n"
    "  --fuse-lo V, --fuse-hi V, --fuse-ex V, --speed V, --bootloader N\n"
    "                    as for program, with --firmware only\n"
    "  --allow-isp-lockout  as for program\n"
    "  --ask-serial      ask for each board's serial (typed, or scanned with a barcode reader:\n"
    "                    one line) when it is put on; the question names the port\n"
    "  --verbose         on a terminal, show the runs' log lines below the board too\n"
    "\nOn each port by itself: wait quietly until a board answers (the chip is asked about\n"
    "once a second), update it as program does, show the outcome (with a bell on a\n"
    "terminal), then wait until the board is taken off (the box answers, no chip does)\n"
    "before waiting for the next. A board is never updated twice without being taken off.\n"
    "A port that does not exist yet (an adapter still to be plugged in) is waited for; a\n"
    "name that cannot be a serial port (a regular file, a folder, another kind of device)\n"
    "is refused at the start.\n"
    "The station never asks: an empty EEPROM is taken for a new board even where a pending\n"
    "copy exists (the log says so); an EEPROM that an interrupted update left half restored\n"
    "is restored from its copy, as program does; one that another board could hold as well,\n"
    "or that fits several differing copies, fails before the erase, for program\n"
    "--use-eeprom-copy or --keep-device-eeprom to settle.\n"
    "Every update writes its log and record line. The counts per port and in all stay on\n"
    "screen; Ctrl-C or SIGTERM stop the station once the updates under way have stopped\n"
    "safely (as program stops them), and the totals are printed. A closed terminal (SIGHUP)\n"
    "stops no update: the station waits for no further board and ends once the updates\n"
    "under way are done.\n"
    "exit codes: 0 when every update was done (or none was made), 1 when one failed with\n"
    "            its device untouched, 2 usage error, 3 when one failed after a fuse write\n"
    "            or the chip erase\n";

// A station port is watched by one loop; a second loop on it would only fight the first.
std::string SamePortTwice(const std::vector<std::string>& ports) {
    const auto earlier = EarlierSamePort(ports);
    for (std::size_t i = 0; i < ports.size(); ++i)
        if (earlier[i])
            return ports[i] == ports[*earlier[i]]
                       ? ports[i] + " is given twice"
                       : ports[i] + " and " + ports[*earlier[i]] + " name the same port";
    return {};
}

// A station waits for a port that is not there yet; one that can never be a serial port would
// be waited for without end.
std::string NoSerialPort(const std::vector<std::string>& ports) {
    for (const std::string& p : ports)
        if (const PortNode node = ExaminePortNode(p); node.Result == PortNode::NotSerial)
            return node.Problem;
    return {};
}

int RunStationCommand(const Command& self, const Args& args) {
    UpdateRequest request;
    std::string problem = ReadUpdateRequest(args, request);
    if (problem.empty()) problem = SamePortTwice(request.Ports);
    if (problem.empty()) problem = NoSerialPort(request.Ports);
    if (problem.empty() && args.Option("--serial"))
        problem = "--serial does not go with station: each board has its own (--ask-serial)";
    if (!problem.empty()) return UsageError(self, problem);
    request.Context.Operation = "station";
    request.AskSerial = args.Flag("--ask-serial");
    return RunStation(request, args.Flag("--verbose"));
}

const RegisterCommand reg(
    {"station",
     "--port P [--port P ...] (--firmware FILE [--fuse-lo V] [--fuse-hi V] "
     "[--fuse-ex V] [--speed V] [--bootloader N] | --item N "
     "[--catalogue FILE]) [--allow-isp-lockout] [--ask-serial] [--station NAME] "
     "[--operator NAME] [--ledger URL] [--verbose]",
     "Production bench: update every board as it is connected, until Ctrl-C.",
     Help,
     WithRunContext({"--port", "--firmware", "--fuse-lo", "--fuse-hi", "--fuse-ex", "--speed",
                     "--bootloader", "--item", "--catalogue"}),
     {"--allow-isp-lockout", "--ask-serial", "--verbose"},
     RunStationCommand,
     {"--port"}});
}  // namespace
