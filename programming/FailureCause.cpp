#include "programming/FailureCause.h"

#include "link/IspLink.h"
#include "programming/RunReport.h"

namespace {
constexpr const char* TargetLostLine =
    "no chip answers on the ISP header any more: the board was taken off or lost contact";
constexpr const char* BoxGoneLine =
    "the programmer box does not answer any more: check its cable and that it is powered";
}  // namespace

const char* CauseText(FailureCause cause) {
    switch (cause) {
        case FailureCause::VerifyMismatch:
            return "verify mismatch";
        case FailureCause::TargetLost:
            return "target lost";
        case FailureCause::BoxSilent:
            return "box silent";
        case FailureCause::None:
            break;
    }
    return "";
}

CauseFinding FindFailureCause(TIspLink& link, const EProgError& e) {
    const bool verification =
        e.Code == errFlashProgram || e.Code == errEepromProgram || e.Code == errEepromVerify;
    // A box that stopped answering, or whose port went away with it (a USB adapter pulled, the
    // box's power lost): the same question tells a box gone from a board gone.
    const bool lineLost = e.Code == errNotConnected || e.Code == errSerialPort;
    if (!verification && !(lineLost && link.InProgrammingMode())) return {};
    bool chipAnswers = false;
    try {
        chipAnswers = link.ChipAnswers();
    } catch (const EProgError&) {
        return {FailureCause::BoxSilent, BoxGoneLine};
    }
    if (!chipAnswers) return {FailureCause::TargetLost, TargetLostLine};
    if (verification)
        return {FailureCause::VerifyMismatch,
                "the chip still answers on the ISP header: it did not keep what was written"};
    return {FailureCause::BoxSilent,
            "the box answers again, and so does the chip: the box was silent for a while; check "
            "its cable and that it is powered"};
}

void NoteFailureCause(TIspLink& link, const EProgError& e, RunOutcome& outcome,
                      const std::function<void(const std::string&)>& log) {
    const CauseFinding cause = FindFailureCause(link, e);
    outcome.Cause = cause.Cause;
    if (cause.Line.empty()) return;
    outcome.Detail += (outcome.Detail.empty() ? "" : "\n") + cause.Line;
    log(cause.Line);
}
