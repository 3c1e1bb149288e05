#include "tests/faults/AbortCase.h"

#include "programming/ProgrammingRun.h"
#include "tests/faults/BoxSimChild.h"
#include "tests/faults/CliCase.h"
#include "tests/faults/Spawn.h"
#include "tests/support/RecordingReport.h"

namespace {
// Notes when the abort was asked for and when each log line came. A stop asked for while
// the EEPROM goes back takes effect once it is back: its time counts from there.
struct TimedReport : RecordingReport {
    bool Progress(int32_t position, int32_t total, ProgressPhase phase) override {
        const bool stop = RecordingReport::Progress(position, total, phase);
        if (stop && AbortAt == 0) AbortAt = NowSeconds();
        if (phase == phEepromProgrammed && !PendingAt.empty()) AbortAt = NowSeconds();
        return stop;
    }
    void Log(const std::string& line) override {
        RecordingReport::Log(line);
        if (line.rfind(InterruptedPrefix, 0) == 0 && FailureAt == 0)
            FailureAt = NowSeconds();
        else if (FailureAt == 0)
            StepAt = NowSeconds();
    }
    double AbortAt = 0, StepAt = 0, FailureAt = 0;
};

int ExitCodeOf(const RunOutcome& o) {
    return o.Success ? 0 : o.DeviceTouched ? 3 : 1;
}
}  // namespace

FaultRow RunAbortCase(const Matrix& m, const AbortCase& c, const std::string& folder) {
    FaultRow row{c.Fault, c.Phase};
    BoxSimChild box(m.BoxSim);
    if (!box.Start(m.BoxOptions(folder))) {
        row.Fail(box.Error());
        return row;
    }
    RunParams params;
    params.FirmwarePath = m.Device.FirmwarePath;
    params.PortName = box.PortPath();
    TimedReport report;
    report.AbortOnPhase = c.On;
    report.AbortAfter = c.Call - 1;
    RunEvidence run;
    run.Started = NowSeconds();
    ProgrammingRun programming(params, report, SystemLinkFactory(),
                               RunOptions{Matrix::DataFolderOf(folder), ""});
    const RunOutcome outcome = programming.Execute();
    run.Ended = NowSeconds();
    run.Exit = ExitCodeOf(outcome);
    run.Log = report.Lines;
    run.RecordCode = LastRecordCode(Matrix::DataFolderOf(folder));
    run.FaultAt = report.AbortAt;
    run.StopStepAt = report.StepAt;
    run.FailureAt = report.FailureAt;
    if (report.AbortAt == 0) row.Fail("the progress call that should abort never came");
    CloseBox(box, folder, run, row);
    ApplyRules(c.Want, run, m.Device, row);
    return row;
}
