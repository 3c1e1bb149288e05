// verify: the device's whole flash against a firmware as an update would program it, with
// nothing written to the device.
#include <cstdlib>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueKeys.h"
#include "catalogue/CatalogueLocation.h"
#include "catalogue/KnownFirmwares.h"
#include "catalogue/UpdatePlan.h"
#include "cli/Command.h"
#include "cli/ConsoleReport.h"
#include "cli/HelpWords.h"
#include "cli/RunContextOptions.h"
#include "cli/StopSignals.h"
#include "programming/NumberText.h"
#include "programming/Probes.h"

namespace {
const char* const Help =
    "  --port P          serial port: a name such as " Q40_PORT_EXAMPLE
    ", or a path\n"
    "  --item N          catalogue item N's firmware: the connected chip must be named by\n"
    "                    one of the item's processor entries, which gives the application\n"
    "                    length, as for an update\n"
    "  --catalogue FILE  catalogue for --item (default: Q40Prog.INI beside this program)\n"
    "  --firmware FILE   firmware image: Intel HEX, or raw binary when it ends in .bin\n"
    "  --bootloader N    application length the check value protects, 3 bytes or more\n"
    "                    (default: image size)\n"
    "\nThe image is loaded and its check value stamped as an update would program it, then\n"
    "the device's whole flash is read and compared with it. Only reads are sent to the\n"
    "device; the EEPROM is not read. Equal: \"Device holds this item's firmware.\" (with\n"
    "--firmware: \"Device holds this firmware.\"). Different: \"Flash verify error!\", the\n"
    "first block that differs (the image's bytes as written, the device's as read) and how\n"
    "many blocks of 32 bytes differ. The log and a line in runs.jsonl are kept as for an\n"
    "update. Ctrl-C, SIGTERM or SIGHUP stop the verify at its next data block.\n"
    "exit codes: 0 equal, 1 different or failed (nothing was written to the device),\n"
    "            2 usage error\n";

// With --item: the item's update plan, the chip query included. Fills 'request' and gives 0,
// or the exit code of the failure it has reported.
int PlanItem(const Args& args, const std::string& port, DeviceReadRequest& request) {
    const CatalogueLocation where =
        LocateCatalogue(args.Option("--catalogue"), OwnExecutablePath());
    const Catalogue catalogue(where.CatalogueFile);
    if (const std::string problem = catalogue.Problem(); !problem.empty()) return Failure(problem);
    const int item = std::atoi(args.Option("--item")->c_str());
    if (!catalogue.HasKey(ItemSection(item), NameKey))
        return Failure("catalogue " + where.CatalogueFile + " has no item " + std::to_string(item));
    ProbeResult chip;
    const UpdatePlan plan =
        PlanItemUpdate(catalogue, where.ProgramFolder, item, port, [&](const std::string& p) {
            chip = QueryChipType(p, SystemLinkFactory());
            return chip.Ok ? chip.Text : std::string();
        });
    if (plan.Result == UpdatePlan::ChipQueryFailed) return Failure(chip.Text, chip.Error.Detail);
    if (plan.Result == UpdatePlan::NoMatch) return Failure(NoMatchText);
    request = ItemVerifyRequest(plan, port);
    request.Context.Catalogue = where.CatalogueFile;
    request.Context.ItemNumber = item;
    request.Context.ItemName = catalogue.ReadValue(ItemSection(item), NameKey, "");
    return ExitOk;
}

// The usage problem, empty when the options make sense.
std::string CheckOptions(const Args& args) {
    const auto port = args.Option("--port");
    if (!port || port->empty()) return "--port is required";
    if (!args.Positionals().empty()) return "unexpected argument";
    const auto item = args.Option("--item");
    const auto firmware = args.Option("--firmware");
    if (item && firmware) return "give either --firmware or --item";
    if (item) {
        const auto n = ParseNumber(*item);
        if (item->empty() || item->find_first_not_of("0123456789") != std::string::npos || !n ||
            *n < FirstItemNumber || *n > LastItemNumber)
            return "--item takes a number from 1 to 99";
        if (args.Option("--bootloader"))
            return "--bootloader does not go with --item: the item's processor entry gives it";
        return {};
    }
    if (args.Option("--catalogue")) return "--catalogue goes with --item";
    if (!firmware || firmware->empty()) return "--firmware or --item is required";
    if (const auto length = args.Option("--bootloader"); length && !ParseNumber(*length))
        return "--bootloader needs a number, not '" + *length + "'";
    return {};
}

int RunVerify(const Command& self, const Args& args) {
    if (const std::string problem = CheckOptions(args); !problem.empty())
        return UsageError(self, problem);
    const std::string port = *args.Option("--port");
    DeviceReadRequest request;
    if (args.Option("--item")) {
        if (const int code = PlanItem(args, port, request); code != ExitOk) return code;
    } else {
        request.Operation = DeviceReadRequest::Verify;
        request.PortName = port;
        request.FirmwarePath = *args.Option("--firmware");
        request.ApplicationLength = args.Option("--bootloader").value_or("");
    }
    if (const std::string problem = ReadRunContext(args, request.Context); !problem.empty())
        return UsageError(self, problem);
    const StopSignals stop(
        "q40prog-cli: stopping the verify at its next data block; nothing is written to the "
        "device.\n",
        "q40prog-cli: already stopping; the verify ends by itself at its next data block.\n");
    ConsoleReport report(&stop);
    const RunOutcome o = DeviceReadRun(request, report, SystemLinkFactory()).Execute();
    return o.Success ? ExitOk : ExitFailure;
}

const RegisterCommand reg(
    {"verify",
     "--port P (--item N [--catalogue FILE] | --firmware FILE [--bootloader N]) [--station NAME] "
     "[--operator NAME] [--serial TEXT] [--ledger URL]",
     "Compare the device's flash with a firmware, without changing anything.",
     Help,
     WithRunContext({"--port", "--item", "--catalogue", "--firmware", "--bootloader"}),
     {},
     RunVerify});
}  // namespace
