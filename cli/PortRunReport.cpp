#include "cli/PortRunReport.h"

#include "cli/ConsoleReport.h"
#include "cli/PortBoard.h"
#include "cli/StopSignals.h"

PortRunReport::PortRunReport(PortBoard& board, std::size_t port, const StopSignals& stop,
                             EepromPolicy policy)
    : Board(board), Port(port), Stop(stop), Policy(policy) {}

void PortRunReport::Log(const std::string& line) {
    Board.Log(Port, line);
}

void PortRunReport::ChipIdentified(const std::string& name) {
    Board.Chip(Port, name);
}

bool PortRunReport::Progress(int32_t position, int32_t total, ProgressPhase phase) {
    Board.Progress(Port, position, total, phase);
    return StopRequested();
}

bool PortRunReport::StopRequested() {
    return Stop.Requested();
}

void PortRunReport::StopPending() {
    Board.StopPending(Port);
}

void PortRunReport::Ended(const RunOutcome& outcome) {
    for (const std::string& w : outcome.Warnings) Board.Warn(Port, w);
}

EepromAnswer PortRunReport::AskAboutEeprom(const EepromQuestion& question) {
    if (Policy == Station) return StationAnswer(question);
    return AnswerFromOptions(question, Policy == KeepDevice);
}

EepromAnswer StationAnswer(const EepromQuestion& q) {
    EepromAnswer a;
    if (!q.DeviceBlank) {
        const std::string copy =
            q.Candidates.size() == 1 ? q.Candidates[0].Path : "and the copy that belongs to it";
        a.Detail = DescribeCandidates(q) +
                   " Nothing was erased. Update this board with program --use-eeprom-copy " + copy +
                   " if it is that device, or with program --keep-device-eeprom if it is not.";
        return a;
    }
    a.Kind = EepromAnswer::KeepDevice;
    a.Detail = "the eeprom is empty and a pending eeprom copy of an " + q.Chip +
               " exists; the station takes this board for a new one";
    return a;
}
