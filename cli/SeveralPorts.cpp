#include "cli/SeveralPorts.h"

#include <cstdio>
#include <thread>

#include "cli/Command.h"
#include "cli/PortBoard.h"
#include "cli/PortRunReport.h"
#include "cli/ResultTable.h"
#include "cli/SamePort.h"
#include "cli/StopSignals.h"
#include "programming/DataFolder.h"
#include "programming/Probes.h"
#include "programming/RunFiles.h"

namespace {
const char* const StopNotice =
    "q40prog-cli: stopping every update safely before its next write, or once its EEPROM is "
    "back in the device; their logs and records are written and the table tells which "
    "devices were touched.";
const char* const StopAgain =
    "q40prog-cli: already stopping; each update ends by itself as soon as it safely can.";

// One port's update; failures without a run (no chip answered, no entry names it, a stop came
// first) go to the board as the port's last lines and, as every run does, to the record.
RunOutcome UpdateOnePort(const UpdateRequest& request, std::size_t index, PortBoard& board,
                         const LinkFactory& makeLink, const StopSignals& stop) {
    const PortRunReport::EepromPolicy policy =
        request.KeepDeviceEeprom ? PortRunReport::KeepDevice : PortRunReport::StopUnlessKept;
    PortRunReport report(board, index, stop, policy);
    PortUpdate u = UpdateDevice(request, request.Ports[index], report, makeLink, stop);
    if (!u.Ran) {
        board.LogLines(index, u.Outcome.Message + "\n" + u.Outcome.Detail);
        KeepRunRecord(DefaultDataFolder(), u.Record, u.Outcome, report);
    }
    return u.Outcome;
}
}  // namespace

int ProgramSeveralPorts(const UpdateRequest& request) {
    const StopSignals stop;
    if (const std::string problem = CheckRequestedItem(request); !problem.empty())
        return Failure(problem);
    const std::vector<std::string>& ports = request.Ports;
    const auto earlier = EarlierSamePort(ports);
    const std::vector<std::string> labels = PortLabels(ports);
    PortBoard board(labels, stop, StopNotice, StopAgain, false);
    std::vector<PortResult> results(ports.size());
    std::vector<std::thread> runs;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        results[i].Port = labels[i];
        const LinkFactory makeLink =
            earlier[i] ? HeldPortLinks(ports[i], ports[*earlier[i]]) : SystemLinkFactory();
        runs.emplace_back([&, i, makeLink] {
            results[i].Outcome = UpdateOnePort(request, i, board, makeLink, stop);
            board.Finished(i, results[i].Outcome);
            board.PortDone(i);
        });
    }
    board.Show();
    for (std::thread& t : runs) t.join();
    std::vector<RunOutcome> outcomes;
    for (const PortResult& r : results) outcomes.push_back(r.Outcome);
    std::fputs(("\n" + ResultTable(results)).c_str(), stdout);
    std::fflush(stdout);
    return ExitCodeOfAll(outcomes);
}
