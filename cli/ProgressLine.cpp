#include "cli/ProgressLine.h"

#include <algorithm>
#include <cmath>

#include "programming/ProgressText.h"

namespace {
constexpr int SecondsPerMinute = 60;
constexpr double MinDoneForEstimate = 0.01;
constexpr double MinSecondsForEstimate = 1.0;
const std::string LongTail = "100%, 99 s left";

std::string Bar(double done, int width) {
    const int filled = std::clamp(static_cast<int>(done * width), 0, width);
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(width - filled), '-') + "] ";
}

// The phase text cut to 'room' characters, ending in one blank before the percent.
std::string CutPhase(const std::string& phase, std::size_t room) {
    std::string cut = phase.substr(0, room - 1);
    while (!cut.empty() && cut.back() == ' ') cut.pop_back();
    return cut + " ";
}
}  // namespace

ProgressLineParts MakeProgressParts(int32_t position, int32_t total, int32_t phase, double elapsed,
                                    bool stopPending) {
    ProgressLineParts parts;
    parts.Done = total > 0 ? static_cast<double>(position) / total : 1.0;
    parts.Phase = PhaseText(phase, stopPending);
    if (IsKnownPhase(phase) && !IsFinishedPhase(phase)) {
        parts.Percent = PercentText(position, total);
        if (parts.Done > MinDoneForEstimate && elapsed > MinSecondsForEstimate)
            parts.Left = RemainingText(elapsed * (1 - parts.Done) / parts.Done);
    }
    return parts;
}

std::string RemainingText(double seconds) {
    const long s = std::max(0L, std::lround(seconds));
    if (s < 100) return std::to_string(s) + " s left";
    return std::to_string(s / SecondsPerMinute) + " min " + std::to_string(s % SecondsPerMinute) +
           " s left";
}

std::string FitProgressLine(const ProgressLineParts& p, int columns) {
    const std::size_t room = static_cast<std::size_t>(std::max(columns - 1, 1));
    const std::string tail = p.Percent + (p.Left.empty() ? "" : ", " + p.Left);
    const std::string text = p.Phase + tail;
    // The bar keeps its width while percent and time grow and shrink within a phase.
    const std::size_t reserved =
        p.Percent.empty() ? text.size() : p.Phase.size() + std::max(tail.size(), LongTail.size());
    for (const std::size_t length : {reserved, text.size()}) {
        const std::size_t barRoom = room > length + 3 ? room - length - 3 : 0;
        if (barRoom >= static_cast<std::size_t>(ProgressBarMinWidth))
            return Bar(p.Done,
                       static_cast<int>(std::min<std::size_t>(barRoom, ProgressBarMaxWidth))) +
                   text;
    }
    if (text.size() <= room) return text;
    // Too narrow for all of it: shorten the phase text, keep percent and time whole.
    constexpr std::size_t MinPhase = 4;
    if (!p.Percent.empty() && room >= tail.size() + MinPhase)
        return CutPhase(p.Phase, room - tail.size()) + tail;
    if (!tail.empty() && tail.size() <= room) return tail;
    if (!p.Percent.empty() && p.Percent.size() <= room) return p.Percent;
    return text.substr(0, room);
}
