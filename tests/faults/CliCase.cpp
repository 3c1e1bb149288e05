#include "tests/faults/CliCase.h"

#include "platform/posix/PosixSerialPort.h"
#include "programming/Probes.h"
#include "tests/faults/Spawn.h"

std::vector<std::string> ProgramCommand(const Matrix& m, const std::string& port) {
    return {m.Cli, "program", "--port", port, "--firmware", m.Device.FirmwarePath};
}

std::vector<std::string> DataEnvironment(const std::string& caseFolder) {
    return {"XDG_DATA_HOME=" + caseFolder + "/data"};
}

RunEvidence EvidenceOf(const CliResult& cli, const std::string& caseFolder) {
    RunEvidence run;
    run.Exit = cli.ExitCode;
    run.Log = cli.Log();
    run.Started = cli.Started;
    run.Ended = cli.Ended;
    run.RecordCode = LastRecordCode(Matrix::DataFolderOf(caseFolder));
    const TimedLine* previous = nullptr;
    for (const TimedLine& l : cli.Lines) {
        if (l.FromStderr) continue;
        if (l.Text.rfind(InterruptedPrefix, 0) == 0) {
            run.FailureAt = l.At;
            run.StopStepAt = previous ? previous->At : cli.Started;
            break;
        }
        previous = &l;
    }
    return run;
}

void CloseBox(BoxSimChild& box, const std::string& caseFolder, RunEvidence& run, FaultRow& row) {
    const bool opens = PortOpensAgain(box.PortPath());
    row.Port = opens ? "opens" : "LOCKED";
    if (!opens) row.Fail("the port does not open again after the run");
    if (box.Stop() != 0) row.Fail("the box did not write its memory dumps");
    run.FlashDump = ReadBytes(caseFolder + "/flash.dump");
    run.EepromDump = ReadBytes(caseFolder + "/eeprom.dump");
}

void CheckNewBox(const Matrix& m, FaultRow& row) {
    BoxSimChild box(m.BoxSim);
    FakeClock noWaits;
    const LinkFactory link = [&] {
        return std::make_unique<TIspLink>(std::make_unique<PosixSerialPort>(), noWaits);
    };
    const bool ok = box.Start({"--chip", TestDevice::Chip}) &&
                    QueryChipType(box.PortPath(), link).Text == TestDevice::Chip;
    row.Port = ok ? "new box ok" : "NEW BOX FAILS";
    if (!ok) row.Fail("a new box does not answer after the kill");
    box.Stop();
}

FaultRow RunCliCase(const Matrix& m, const CliCase& c, const std::string& folder) {
    FaultRow row{c.Fault, c.Phase};
    BoxSimChild box(m.BoxSim);
    std::vector<std::string> options = m.BoxOptions(folder);
    options.insert(options.end(), c.BoxOptions.begin(), c.BoxOptions.end());
    if (!box.Start(options)) {
        row.Fail(box.Error());
        return row;
    }
    double killedAt = 0;
    CliRun cli;
    if (!cli.Start(ProgramCommand(m, box.PortPath()), DataEnvironment(folder))) {
        row.Fail("q40prog-cli did not start");
        return row;
    }
    const CliResult result = cli.Finish([&](const TimedLine& line) {
        if (c.KillOn.empty() || killedAt > 0 || line.Text.rfind(c.KillOn, 0) != 0) return;
        killedAt = NowSeconds();
        box.Kill();
    });
    RunEvidence run = EvidenceOf(result, folder);
    run.FaultAt = killedAt;
    run.BoxKilled = killedAt > 0;
    if (!c.KillOn.empty() && !run.BoxKilled) row.Fail("the run never reached \"" + c.KillOn + "\"");
    if (run.BoxKilled)
        CheckNewBox(m, row);
    else
        CloseBox(box, folder, run, row);
    ApplyRules(c.Want, run, m.Device, row);
    return row;
}
