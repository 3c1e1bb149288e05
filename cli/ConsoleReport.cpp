#include "cli/ConsoleReport.h"

#include <algorithm>

#include "cli/ProgressLine.h"
#include "cli/StopSignals.h"
#include "platform/SystemFiles.h"
#include "programming/ProgressText.h"

namespace {
constexpr auto RedrawInterval = std::chrono::milliseconds(100);
}  // namespace

ConsoleReport::ConsoleReport(const StopSignals* stop) : Stop(stop) {
    if (sysfile::IsTerminal(sysfile::StandardError)) Width.emplace(sysfile::StandardError);
}

void ConsoleReport::Log(const std::string& line) {
    EndBar();
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

bool ConsoleReport::Progress(int32_t position, int32_t total, ProgressPhase phase) {
    const auto now = std::chrono::steady_clock::now();
    if (phase != Phase) {
        Phase = phase;
        PhaseStart = now;
        LastTenth = -1;
    }
    Position = position;
    Total = total;
    if (Width) {
        if (IsFinishedPhase(phase) || now - LastDraw >= RedrawInterval) {
            DrawBar(position, total, phase);
            LastDraw = now;
        }
    } else {
        const int tenth = total > 0 ? static_cast<int>(int64_t{position} * 10 / total) : 10;
        if (IsFinishedPhase(phase) || tenth != LastTenth) {
            ShowStatus(position, total, phase);
            LastTenth = tenth;
        }
    }
    return StopRequested();
}

bool ConsoleReport::StopRequested() {
    return Stop && Stop->Requested();
}

void ConsoleReport::StopPending() {
    StopWaits = true;
    if (!IsKnownPhase(Phase)) return;
    if (Width)
        DrawBar(Position, Total, Phase);
    else
        ShowStatus(Position, Total, Phase);
}

void ConsoleReport::ShowStatus(int32_t position, int32_t total, int32_t phase) {
    std::fprintf(stderr, "%s\n", StatusText(position, total, phase, StopWaits).c_str());
}

void ConsoleReport::DrawBar(int32_t position, int32_t total, int32_t phase) {
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - PhaseStart).count();
    const ProgressLineParts parts = MakeProgressParts(position, total, phase, elapsed, StopWaits);
    const int columns = Width->Columns();
    std::string line = FitProgressLine(parts, columns);
    const std::size_t room = static_cast<std::size_t>(std::max(columns - 1, 1));
    // After a shrink the old line may have wrapped: start afresh below it.
    if (BarShown && StopSignals::LineOpen() && BarLength > room) std::fputc('\n', stderr);
    const std::size_t drawn = line.size();
    if (drawn < BarLength) line.append(std::min(BarLength, room) - drawn, ' ');
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
    BarShown = true;
    BarLength = drawn;
    StopSignals::SetLineOpen(true);
}

void ConsoleReport::EndBar() {
    if (!BarShown) return;
    // A stop notice may have ended the line already.
    if (StopSignals::LineOpen()) std::fputc('\n', stderr);
    StopSignals::SetLineOpen(false);
    BarShown = false;
    BarLength = 0;
}

void ConsoleReport::Ended(const RunOutcome& outcome) {
    EndBar();
    for (const std::string& w : outcome.Warnings)
        std::fprintf(stderr, "q40prog-cli: warning: %s\n", w.c_str());
}

EepromAnswer ConsoleReport::AskAboutEeprom(const EepromQuestion& q) {
    return AnswerFromOptions(q, KeepDeviceEeprom);
}

EepromAnswer AnswerFromOptions(const EepromQuestion& q, bool keepDevice) {
    EepromAnswer a;
    if (keepDevice) {
        a.Kind = EepromAnswer::KeepDevice;
        return a;
    }
    a.Detail = DescribeCandidates(q) + " Nothing was erased. ";
    if (q.Candidates.size() == 1 && q.DeviceBlank)
        a.Detail += "If it is, run again with --use-eeprom-copy " + q.Candidates[0].Path +
                    "; if it is a new board, with --keep-device-eeprom.";
    else if (q.Candidates.size() == 1)
        a.Detail += "If it is, run again with --use-eeprom-copy " + q.Candidates[0].Path +
                    "; if it is another board, with --keep-device-eeprom to keep what it holds.";
    else
        a.Detail +=
            "Run again with --use-eeprom-copy and the copy that belongs to this device, or with "
            "--keep-device-eeprom to go on with the EEPROM as the device holds it.";
    return a;
}
