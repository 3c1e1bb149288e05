#include "cli/Station.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <thread>

#include "cli/Command.h"
#include "cli/PortBoard.h"
#include "cli/PortRunReport.h"
#include "cli/ResultTable.h"
#include "cli/StopSignals.h"
#include "link/SerialPort.h"
#include "programming/DataFolder.h"
#include "programming/Probes.h"
#include "programming/RunFiles.h"

namespace {
using Clock = std::chrono::steady_clock;
// A board is looked for, and its removal, about once a second.
constexpr auto PollInterval = std::chrono::seconds(1);
constexpr auto StopCheckInterval = std::chrono::milliseconds(50);

const char* const StopNotice =
    "q40prog-cli: stopping the station; updates under way stop safely before their next "
    "write, or once their EEPROM is back in the device, then the totals follow.";
const char* const StopAgain =
    "q40prog-cli: already stopping; updates under way end by themselves as soon as they "
    "safely can.";
const char* const WaitingForBoard = "waiting for a board";

class PortStation {
public:
    PortStation(const UpdateRequest& request, std::size_t index, PortBoard& board,
                const StopSignals& stop)
        : Request(request), Index(index), Port(request.Ports[index]), Board(board), Stop(stop) {}

    void Run() {
        while (!Ending()) {
            const std::string chip = WaitForBoard();
            if (chip.empty() || Stop.HungUp() || !Update(chip) || !WaitForRemoval()) break;
        }
        Board.PortDone(Index);
    }

    std::vector<RunOutcome> Outcomes;  // of every update made

private:
    // No next board is waited for after a stop signal, nor once the terminal is gone: nobody
    // would see its outcome. An update under way carries on to its end after a hang-up.
    bool Ending() const { return Stop.Requested() || Stop.HungUp(); }

    // Sleeps until 'until'; false when the station ends first.
    bool Pause(Clock::time_point until) const {
        while (!Ending() && Clock::now() < until)
            std::this_thread::sleep_for(
                std::min<Clock::duration>(StopCheckInterval, until - Clock::now()));
        return !Ending();
    }

    // The chip of the board that answers; empty when the station stops first.
    std::string WaitForBoard() {
        Board.State(Index, WaitingForBoard);
        for (;;) {
            const auto started = Clock::now();
            const ProbeResult r = QueryChipType(Port, SystemLinkFactory(), false);
            if (r.Ok) return r.Text;
            Board.State(Index, WaitingText(r));
            if (!Pause(started + PollInterval)) return {};
        }
    }

    // Without a board the box answers but no target does; anything else is worth seeing
    // while it lasts. A port not there yet (an adapter to be plugged in) is said in words.
    std::string WaitingText(const ProbeResult& r) const {
        if (r.Error.Code == errProgMode) return WaitingForBoard;
        if (r.Error.Code == errPortNotAvailable && r.Error.OsError == ENOENT)
            return SerialDevicePath(Port) + " does not exist yet; waiting for it";
        return std::string(WaitingForBoard) + "; " + r.Text;
    }

    // False when the station stopped before the update began.
    bool Update(const std::string& chip) {
        Board.PutOn(Index, chip);
        const std::string serial = Request.AskSerial ? AskSerial() : std::string();
        if (Stop.Requested()) return false;
        PortRunReport report(Board, Index, Stop, PortRunReport::Station);
        PortUpdate u = UpdateDevice(Request, Port, report, SystemLinkFactory(), Stop, chip, serial);
        if (!u.Ran && Stop.Requested()) return false;
        if (!u.Ran) {  // no processor entry names the chip: an update that failed, recorded
            Board.LogLines(Index, u.Outcome.Message + "\n" + u.Outcome.Detail);
            KeepRunRecord(DefaultDataFolder(), u.Record, u.Outcome, report);
        }
        Outcomes.push_back(u.Outcome);
        Board.Finished(Index, u.Outcome);
        if (!Stop.Requested())
            Board.State(Index, OutcomeSentence(u.Outcome) + " Take the board off.");
        return true;
    }

    // One line from stdin, typed or from a barcode reader; one socket asks at a time, so that
    // each answer goes to the board it was asked for. Empty at the input's end.
    std::string AskSerial() {
        static std::mutex asking;
        const std::lock_guard<std::mutex> lock(asking);
        Board.Ask(Index,
                  Port + ": serial number of the board put on (type or scan it, then Enter)");
        std::string line;
        if (!std::getline(std::cin, line)) line.clear();
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Board.Answered(Index);
        return line;
    }

    // Until the box answers but the board does not; false when the station stops first.
    // A box that cannot tell (gone, busy) is no removal: the board may still be on it.
    bool WaitForRemoval() {
        for (;;) {
            if (!Pause(Clock::now() + PollInterval)) return false;
            const ProbeResult r = QueryChipType(Port, SystemLinkFactory(), false);
            if (!r.Ok && r.Error.Code == errProgMode) return true;
        }
    }

    const UpdateRequest& Request;
    const std::size_t Index;
    const std::string Port;
    PortBoard& Board;
    const StopSignals& Stop;
};

void PrintTotals(const std::vector<std::string>& ports, const PortBoard& board) {
    std::size_t width = std::string("all ports").size();
    for (const std::string& p : ports) width = std::max(width, p.size());
    const auto row = [&](const std::string& name, const UpdateCounts& c) {
        std::printf("%-*s  %6d  %6d  %9d\n", static_cast<int>(width), name.c_str(), c.Done,
                    c.Failed, c.TakenOff);
    };
    std::printf("\n%-*s  %6s  %6s  %9s\n", static_cast<int>(width), "port", "done", "failed",
                "taken off");
    for (std::size_t i = 0; i < ports.size(); ++i) row(ports[i], board.CountsOf(i));
    row("all ports", board.Total());
    std::fflush(stdout);
}
}  // namespace

int RunStation(const UpdateRequest& request, bool verbose) {
    const StopSignals stop;
    if (const std::string problem = CheckRequestedItem(request); !problem.empty())
        return Failure(problem);
    PortBoard board(request.Ports, stop, StopNotice, StopAgain, true);
    board.ShowLogLines(verbose);
    std::vector<std::unique_ptr<PortStation>> stations;
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < request.Ports.size(); ++i) {
        stations.push_back(std::make_unique<PortStation>(request, i, board, stop));
        threads.emplace_back([s = stations.back().get()] { s->Run(); });
    }
    board.Show();
    for (std::thread& t : threads) t.join();
    PrintTotals(request.Ports, board);
    std::vector<RunOutcome> outcomes;
    for (const auto& s : stations)
        outcomes.insert(outcomes.end(), s->Outcomes.begin(), s->Outcomes.end());
    return ExitCodeOfAll(outcomes);
}
