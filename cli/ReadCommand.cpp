// read: what the connected device holds (box, chip, fuses, lock bits, flash, EEPROM), with
// nothing written to it.
#include <cstdio>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueLocation.h"
#include "catalogue/KnownFirmwares.h"
#include "cli/Command.h"
#include "cli/ConsoleReport.h"
#include "cli/HelpWords.h"
#include "cli/RunContextOptions.h"
#include "cli/StopSignals.h"
#include "programming/RunRecord.h"

namespace {
const char* const Help =
    "  --port P          serial port: a name such as " Q40_PORT_EXAMPLE
    ", or a path\n"
    "  --catalogue FILE  catalogue whose items' identifiers are looked for in the flash\n"
    "                    (default: Q40Prog.INI beside this program); its folder holds\n"
    "                    Firmware/\n"
    "  --save DIR        write the flash and the EEPROM into DIR as Intel HEX files,\n"
    "                    flash-<chip>-<port>-<time>.hex and eeprom-<chip>-<port>-<time>.hex\n"
    "  --json            print what was found as one JSON document instead of the log\n"
    "\nOnly reads are sent to the device: programming mode, signature, fuse and lock bit\n"
    "reads, flash and EEPROM reads. Told: the box's version; the chip and its signature\n"
    "bytes; each fuse byte and the lock bits in hex and bit by bit in words, and the\n"
    "lock-out guard's verdict on the fuses; the flash: erased or where its last non-blank\n"
    "byte is, every identifier of the catalogue's items found in it, and for each item\n"
    "found its check value at the item's application length and whether the flash is the\n"
    "item's firmware file as an update programs it; the EEPROM: blank or not, its SHA-256.\n"
    "The last line is the verdict:\n"
    "  installed: item N NAME, IDENTIFIER, check value valid, same as its firmware file\n"
    "    (or: ..., differs from its firmware file from ADDRESS on)\n"
    "  identifier IDENTIFIER found, check value wrong: an interrupted or damaged update\n"
    "  erased\n"
    "  no identifier of this catalogue found\n"
    "The log and a line in runs.jsonl are kept as for an update; copies saved here are never\n"
    "marked pending. Ctrl-C, SIGTERM or SIGHUP stop the read at its next data block.\n"
    "exit codes: 0 read, 1 failed (nothing was written to the device), 2 usage error\n";

// The log goes to the log file only; stdout carries the JSON document alone.
class JsonReport : public ConsoleReport {
public:
    using ConsoleReport::ConsoleReport;
    void Log(const std::string&) override {}
};

int RunRead(const Command& self, const Args& args) {
    const auto port = args.Option("--port");
    if (!port || port->empty()) return UsageError(self, "--port is required");
    if (!args.Positionals().empty()) return UsageError(self, "unexpected argument");
    const auto catalogue = args.Option("--catalogue");
    if (catalogue && catalogue->empty()) return UsageError(self, "--catalogue needs a file name");
    const auto save = args.Option("--save");
    if (save && save->empty()) return UsageError(self, "--save needs a folder");
    const CatalogueLocation where = LocateCatalogue(catalogue, OwnExecutablePath());
    // A catalogue asked for by name must be there; the default one may be missing.
    if (catalogue)
        if (const std::string problem = Catalogue(where.CatalogueFile).Problem(); !problem.empty())
            return Failure(problem);
    DeviceReadRequest request =
        CatalogueReadRequest(where.CatalogueFile, where.ProgramFolder, *port);
    request.SaveFolder = save.value_or("");
    if (const std::string problem = ReadRunContext(args, request.Context); !problem.empty())
        return UsageError(self, problem);
    const StopSignals stop(
        "q40prog-cli: stopping the read at its next data block; nothing is written to the "
        "device.\n",
        "q40prog-cli: already stopping; the read ends by itself at its next data block.\n");
    const bool json = args.Flag("--json");
    JsonReport quiet(&stop);
    ConsoleReport plain(&stop);
    IRunReport& report = json ? static_cast<IRunReport&>(quiet) : plain;
    const RunOutcome o = DeviceReadRun(request, report, SystemLinkFactory()).Execute();
    if (json) {
        std::fputs(ReadoutJson(o).c_str(), stdout);
        std::fflush(stdout);
        if (!o.Success) Failure(o.Message, o.Detail);
    }
    return o.Success ? ExitOk : ExitFailure;
}

const RegisterCommand reg({"read",
                           "--port P [--catalogue FILE] [--save DIR] [--json] [--station NAME] "
                           "[--operator NAME] [--serial TEXT] [--ledger URL]",
                           "Tell what the connected device holds, without changing anything.",
                           Help,
                           WithRunContext({"--port", "--catalogue", "--save"}),
                           {"--json"},
                           RunRead});
}  // namespace
