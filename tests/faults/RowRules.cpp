#include "tests/faults/RowRules.h"

#include <cstdlib>

const char* const InterruptedPrefix = "programming interrupted: ";

namespace {
const std::string CopyPrefix = "saving eeprom copy to ";
const std::string NeedsRunPrefix = "the device needs another update; its eeprom copy is ";
const std::string DoneLine = "done without any problem.";
const std::string EraseLine = "erasing chip";

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

// Index of the failure line, or -1.
int FailureLine(const std::vector<std::string>& log) {
    for (std::size_t i = 0; i < log.size(); ++i)
        if (StartsWith(log[i], InterruptedPrefix)) return static_cast<int>(i);
    return -1;
}

bool Contains(const std::vector<std::string>& log, const std::string& line) {
    for (const std::string& l : log)
        if (l == line) return true;
    return false;
}

void CheckOutcome(const Expected& want, const RunEvidence& run, FaultRow& row) {
    const int at = FailureLine(run.Log);
    const std::string message =
        at >= 0 ? run.Log[at].substr(std::string(InterruptedPrefix).size()) : std::string();
    row.Outcome = run.Exit == 0 ? "done" : "exit " + std::to_string(run.Exit);
    if (at >= 0) row.Outcome += ", code " + std::to_string(run.RecordCode) + " \"" + message + "\"";
    if (run.Exit != want.Exit) row.Fail("exit code " + std::to_string(want.Exit) + " expected");
    if (run.RecordCode != want.Code)
        row.Fail("run record code " + std::to_string(want.Code) + " expected");
    if (want.Message.empty()) {
        if (run.Log.empty() || run.Log.back() != DoneLine) row.Fail("no \"" + DoneLine + "\"");
        return;
    }
    if (message != want.Message) row.Fail("message \"" + want.Message + "\" expected");
    if (at < 1 || !StartsWith(run.Log[at - 1], want.StopStep))
        row.Fail("the run should have stopped at \"" + want.StopStep + "\"");
}

// Exit 3 must name the copy that holds the EEPROM; exit 1 must not have erased anything.
void CheckEraseReport(const RunEvidence& run, FaultRow& row) {
    const std::string copy = EepromCopyOf(run.Log);
    if (run.Exit == 3 &&
        (run.Log.empty() || run.Log.back() != NeedsRunPrefix + copy || copy.empty()))
        row.Fail("exit 3 without \"" + NeedsRunPrefix + "<copy>\" as the last line");
    if (run.Exit == 1 && Contains(run.Log, EraseLine)) row.Fail("exit 1 after the chip erase");
}

void CheckTiming(const Expected& want, const RunEvidence& run, FaultRow& row) {
    if (run.Exit == 0) {
        row.Seconds = run.Ended - run.Started;
        return;
    }
    if (run.FailureAt == 0) return;  // CheckOutcome has said so
    if (run.FaultAt > 0) {
        row.Seconds = run.FailureAt - run.FaultAt;
        if (row.Seconds > MarginSeconds) row.Fail("the failure was not reported at once");
        return;
    }
    row.Seconds = run.FailureAt - run.StopStepAt;
    if (row.Seconds > want.MaxWaitMs / 1000.0 + MarginSeconds)
        row.Fail("longer than the documented " + std::to_string(want.MaxWaitMs) + " ms + 1 s");
    if (row.Seconds < want.MinWaitMs / 1000.0 - EarlySeconds)
        row.Fail("gave up before the documented " + std::to_string(want.MinWaitMs) + " ms");
}

void CheckMemories(const RunEvidence& run, const TestDevice& device, FaultRow& row) {
    if (run.Exit == 0 && run.FlashDump != device.GoodFlash)
        row.Fail("reported done, but the flash is not the stamped image");
    const std::string copy = EepromCopyOf(run.Log);
    if (!run.BoxKilled && run.EepromDump == device.Eeprom) {
        row.Eeprom = "in device";
    } else if (!copy.empty() && ReadBytes(copy) == device.Eeprom) {
        row.Eeprom = "in copy";
    } else if (run.BoxKilled && !Contains(run.Log, EraseLine)) {
        row.Eeprom = "in device (no erase)";
    } else {
        row.Eeprom = "LOST";
        row.Fail("the original EEPROM is neither in the device nor in the copy");
    }
}
}  // namespace

std::string EepromCopyOf(const std::vector<std::string>& log) {
    for (const std::string& l : log)
        if (StartsWith(l, CopyPrefix)) return l.substr(CopyPrefix.size());
    return {};
}

int RecordCodeOf(const std::string& recordLine) {
    const std::string key = "\"code\":";
    const auto at = recordLine.find(key);
    if (at == std::string::npos) return -1;
    return std::atoi(recordLine.c_str() + at + key.size());
}

void ApplyRules(const Expected& want, const RunEvidence& run, const TestDevice& device,
                FaultRow& row) {
    CheckOutcome(want, run, row);
    CheckEraseReport(run, row);
    CheckTiming(want, run, row);
    CheckMemories(run, device, row);
}
