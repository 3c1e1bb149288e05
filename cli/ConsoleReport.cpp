#include "cli/ConsoleReport.h"

#include <unistd.h>

#include "programming/ProgressText.h"

namespace {
constexpr int BarWidth = 30;
constexpr auto RedrawInterval = std::chrono::milliseconds(100);
}  // namespace

ConsoleReport::ConsoleReport() : Terminal(isatty(STDERR_FILENO) == 1) {}

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
    if (Terminal) {
        if (IsFinishedPhase(phase) || now - LastDraw >= RedrawInterval) {
            DrawBar(position, total, phase);
            LastDraw = now;
        }
        return false;
    }
    const int tenth = total > 0 ? static_cast<int>(int64_t{position} * 10 / total) : 10;
    if (IsFinishedPhase(phase) || tenth != LastTenth) {
        std::fprintf(stderr, "%s\n", StatusText(position, total, phase).c_str());
        LastTenth = tenth;
    }
    return false;
}

void ConsoleReport::DrawBar(int32_t position, int32_t total, int32_t phase) {
    const double done = total > 0 ? static_cast<double>(position) / total : 1.0;
    const int filled = static_cast<int>(done * BarWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(BarWidth, '-');
    std::string left;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - PhaseStart).count();
    if (!IsFinishedPhase(phase) && done > 0.01 && elapsed > 1.0)
        left =
            ", " + std::to_string(static_cast<int>(elapsed * (1 - done) / done + 0.5)) + " s left";
    std::fprintf(stderr, "\r[%s] %-40s%-14s", bar.c_str(),
                 StatusText(position, total, phase).c_str(), left.c_str());
    std::fflush(stderr);
    BarShown = true;
}

void ConsoleReport::EndBar() {
    if (!BarShown) return;
    std::fputc('\n', stderr);
    BarShown = false;
}

void ConsoleReport::Ended(const RunOutcome& outcome) {
    EndBar();
    for (const std::string& w : outcome.Warnings)
        std::fprintf(stderr, "q40prog-cli: warning: %s\n", w.c_str());
}

EepromAnswer ConsoleReport::AskAboutEeprom(const EepromQuestion& q) {
    EepromAnswer a;
    if (KeepDeviceEeprom) {
        a.Kind = EepromAnswer::KeepDevice;
        return a;
    }
    a.Detail = DescribeCandidates(q) + " Nothing was erased. ";
    if (q.Candidates.size() == 1 && q.DeviceBlank)
        a.Detail += "If it is, run again with --use-eeprom-copy " + q.Candidates[0].Path +
                    "; if it is a new board, with --keep-device-eeprom.";
    else
        a.Detail +=
            "Run again with --use-eeprom-copy and the copy that belongs to this device, or with "
            "--keep-device-eeprom to go on with the EEPROM as the device holds it.";
    return a;
}
