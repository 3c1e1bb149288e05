#include "programming/ProgressText.h"

namespace {
constexpr const char* Texts[] = {
    "Verifying flash... ",
    "Flash verifyed ok.",
    "Programming/Verifying flash... ",
    "Flash programmed ok.",
    "Reading flash...",
    "Reading flash ok.",
    "Reading EEProm... ",
    "Reading EEProm ok.",
    "Verifying EEProm... ",
    "EEProm verify ok.",
    "Programming/Verifying EEProm... ",
    "EEProm programmed ok.",
};
constexpr uint32_t PhaseCount = sizeof Texts / sizeof Texts[0];
}  // namespace

std::string PercentText(int32_t position, int32_t total) {
    if (total <= 0) return "0%";
    return std::to_string(static_cast<int64_t>(position) * 100 / total) + "%";
}

bool IsKnownPhase(int32_t phase) {
    return static_cast<uint32_t>(phase) < PhaseCount;
}

bool IsFinishedPhase(int32_t phase) {
    return IsKnownPhase(phase) && (phase % 2) == 1;
}

const char* PhaseText(int32_t phase) {
    return IsKnownPhase(phase) ? Texts[phase] : "";
}

std::string StatusText(int32_t position, int32_t total, int32_t phase) {
    return StatusText(position, total, phase, false);
}

const char* const StopPendingText = "Stopping once the EEProm is back... ";

const char* PhaseText(int32_t phase, bool stopPending) {
    return stopPending && IsKnownPhase(phase) && !IsFinishedPhase(phase) ? StopPendingText
                                                                         : PhaseText(phase);
}

std::string StatusText(int32_t position, int32_t total, int32_t phase, bool stopPending) {
    if (!IsKnownPhase(phase)) return {};
    if (IsFinishedPhase(phase)) return PhaseText(phase);
    return PhaseText(phase, stopPending) + PercentText(position, total);
}
