#include "cli/UpdateRequest.h"

#include <algorithm>
#include <cstdlib>

#include "catalogue/Catalogue.h"
#include "catalogue/CatalogueKeys.h"
#include "catalogue/ItemRunValues.h"
#include "catalogue/UpdatePlan.h"
#include "cli/StopSignals.h"
#include "programming/NumberText.h"
#include "programming/Probes.h"
#include "programming/ProgrammingRun.h"

namespace {
// The catalogue's processor entry gives these with --item.
const char* const EntryOptions[] = {"--fuse-lo", "--fuse-hi", "--fuse-ex", "--speed",
                                    "--bootloader"};

std::string ReadPorts(const Args& args, UpdateRequest& r) {
    r.Ports = args.Options("--port");
    const bool empty =
        std::any_of(r.Ports.begin(), r.Ports.end(), [](const std::string& p) { return p.empty(); });
    return r.Ports.empty() || empty ? "--port is required" : "";
}

std::string ReadEepromChoice(const Args& args, UpdateRequest& r) {
    r.KeepDeviceEeprom = args.Flag("--keep-device-eeprom");
    const auto copy = args.Option("--use-eeprom-copy");
    if (r.KeepDeviceEeprom && copy) return "give either --use-eeprom-copy or --keep-device-eeprom";
    if (copy && copy->empty()) return "--use-eeprom-copy needs a file";
    // A copy belongs to one device.
    if (copy && r.Ports.size() > 1) return "--use-eeprom-copy goes with one --port";
    r.UseEepromCopy = copy.value_or("");
    return {};
}

std::string ReadItem(const Args& args, UpdateRequest& r) {
    const std::string text = *args.Option("--item");
    char* end = nullptr;
    const long item = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || item < FirstItemNumber || item > LastItemNumber)
        return "--item takes a number from 1 to 99";
    for (const char* option : EntryOptions)
        if (args.Option(option))
            return std::string(option) +
                   " does not go with --item: the item's processor entry gives it";
    r.Item = static_cast<int>(item);
    r.Where = LocateCatalogue(args.Option("--catalogue"), OwnExecutablePath());
    return {};
}

std::string ReadFirmware(const Args& args, UpdateRequest& r) {
    if (args.Option("--catalogue")) return "--catalogue goes with --item";
    RunParams& v = r.Values;
    v.FirmwarePath = args.Option("--firmware").value_or("");
    if (v.FirmwarePath.empty()) return "--firmware or --item is required";
    // An empty value would leave that fuse or the speed as it is: a script whose variable is
    // unset must not skip a fuse silently.
    for (const char* option : {"--fuse-lo", "--fuse-hi", "--fuse-ex", "--speed"})
        if (const auto given = args.Option(option); given && given->empty())
            return std::string(option) + " needs a value, not an empty one";
    v.FuseLo = args.Option("--fuse-lo").value_or("");
    v.FuseHi = args.Option("--fuse-hi").value_or("");
    v.FuseEx = args.Option("--fuse-ex").value_or("");
    v.Speed = args.Option("--speed").value_or("");
    v.Bootloader = args.Option("--bootloader").value_or("");
    // The catalogue falls back to the image size for a Bootloader that is no number; a value
    // typed on the command line is meant as one.
    if (args.Option("--bootloader") && !ParseNumber(v.Bootloader))
        return "--bootloader needs a number, not '" + v.Bootloader + "'";
    return {};
}

PortUpdate Run(const RunParams& params, const std::string& idPattern, const UpdateRequest& request,
               const RunContext& context, IRunReport& report, const LinkFactory& makeLink,
               const StopSignals& stop) {
    PortUpdate u;
    if (stop.Requested()) {
        u.Outcome.Code = errAborted;
        u.Outcome.Message = "stopped before the update began; the device is untouched";
        return u;
    }
    ProgrammingRun run(params, report, makeLink,
                       RunOptions{{}, idPattern, request.UseEepromCopy, context});
    u.Outcome = run.Execute();
    u.Ran = true;
    return u;
}

// The update action's chip query, or the chip a station has seen answer already.
PortUpdate FromItem(const UpdateRequest& request, RunContext context, const std::string& port,
                    IRunReport& report, const LinkFactory& makeLink, const StopSignals& stop,
                    const std::string& knownChip) {
    PortUpdate u;
    const Catalogue catalogue(request.Where.CatalogueFile);
    context.Catalogue = request.Where.CatalogueFile;
    context.ItemNumber = *request.Item;
    context.ItemName = catalogue.ReadValue(ItemSection(*request.Item), NameKey, "");
    u.Record.Context = context;
    const UpdatePlan plan = PlanItemUpdate(catalogue, request.Where.ProgramFolder, *request.Item,
                                           port, [&](const std::string& p) {
                                               if (!knownChip.empty()) return knownChip;
                                               const ProbeResult chip = QueryChipType(p, makeLink);
                                               if (!chip.Ok) {
                                                   u.Outcome.Code = chip.Error.Code;
                                                   u.Outcome.Message = chip.Text;
                                                   u.Outcome.Detail = chip.Error.Detail;
                                               }
                                               return chip.Ok ? chip.Text : std::string();
                                           });
    u.Outcome.Chip = plan.Chip;
    if (plan.Result == UpdatePlan::NoMatch) {
        u.Outcome.Code = errNoProcessorEntry;
        u.Outcome.Message = NoMatchText;
        u.Outcome.Detail = NoMatchDetail(plan);
    }
    if (plan.Result != UpdatePlan::Ready) {
        u.Record.Firmware = ItemFirmwarePath(catalogue, request.Where.ProgramFolder, *request.Item);
        u.Record.FirmwarePattern =
            catalogue.ReadValue(ItemSection(*request.Item), IdentifierKey, "");
        return u;
    }
    RunParams params = plan.Params;
    params.AllowIspLockout = params.AllowIspLockout || request.AllowIspLockout;
    return Run(params, plan.FirmwareIdText, request, context, report, makeLink, stop);
}
}  // namespace

std::string ReadUpdateRequest(const Args& args, UpdateRequest& r) {
    std::string problem = ReadPorts(args, r);
    if (problem.empty()) problem = ReadEepromChoice(args, r);
    if (!problem.empty()) return problem;
    if (!args.Positionals().empty()) return "unexpected argument";
    const bool byItem = args.Option("--item").has_value();
    if (byItem && args.Option("--firmware")) return "give either --firmware or --item";
    if (std::string p = ReadRunContext(args, r.Context, r.Ports.size() == 1); !p.empty()) return p;
    r.AllowIspLockout = args.Flag("--allow-isp-lockout");
    r.Values.AllowIspLockout = r.AllowIspLockout;
    return byItem ? ReadItem(args, r) : ReadFirmware(args, r);
}

std::string CheckRequestedItem(const UpdateRequest& r) {
    if (!r.Item) return {};
    const Catalogue catalogue(r.Where.CatalogueFile);
    if (std::string problem = catalogue.Problem(); !problem.empty()) return problem;
    if (!catalogue.HasKey(ItemSection(*r.Item), NameKey))
        return "catalogue " + r.Where.CatalogueFile + " has no item " + std::to_string(*r.Item);
    return {};
}

PortUpdate UpdateDevice(const UpdateRequest& request, const std::string& port, IRunReport& report,
                        const LinkFactory& makeLink, const StopSignals& stop,
                        const std::string& knownChip, const std::string& serial) {
    const auto started = std::chrono::system_clock::now();
    RunContext context = request.Context;
    if (!serial.empty()) context.Serial = serial;
    PortUpdate u;
    if (request.Item) {
        u = FromItem(request, context, port, report, makeLink, stop, knownChip);
    } else {
        RunParams params = request.Values;
        params.PortName = port;
        u = Run(params, {}, request, context, report, makeLink, stop);
        u.Record.Firmware = params.FirmwarePath;
        u.Record.Context = context;
    }
    u.Record.Operation = "program";
    u.Record.Started = started;
    u.Record.Port = port;
    return u;
}
