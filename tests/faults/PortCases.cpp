#include "tests/faults/PortCases.h"

#include <thread>

#include "tests/faults/CliCase.h"
#include "tests/faults/PortHolder.h"

const char* const PortInUse = "Error opening serial port. Port already in use?";

namespace {
constexpr int ExitUntouched = 1;
constexpr int CodePortInUse = 5;

Expected InUse() {
    return {ExitUntouched, CodePortInUse, PortInUse, "opening serial port ", 0, 0};
}
}  // namespace

FaultRow RunHeldPortCase(const Matrix& m, const std::string& folder) {
    FaultRow row{"port held by another program", "opening"};
    BoxSimChild box(m.BoxSim);
    PortHolder holder;
    if (!box.Start(m.BoxOptions(folder)) || !holder.Hold(box.PortPath())) {
        row.Fail("cannot set the case up: " + box.Error());
        return row;
    }
    CliRun cli;
    cli.Start(ProgramCommand(m, box.PortPath()), DataEnvironment(folder));
    RunEvidence run = EvidenceOf(cli.Finish(), folder);
    holder.Release();
    CloseBox(box, folder, run, row);
    ApplyRules(InUse(), run, m.Device, row);
    return row;
}

std::vector<FaultRow> RunTwoAtOnceCase(const Matrix& m, const std::string& folderA,
                                       const std::string& folderB) {
    std::vector<FaultRow> rows(2, FaultRow{"two updates at once", "opening"});
    BoxSimChild box(m.BoxSim);
    if (!box.Start(m.BoxOptions(folderA))) {
        rows[0].Fail(box.Error());
        return rows;
    }
    const std::string folders[2] = {folderA, folderB};
    CliRun cli[2];
    for (int i = 0; i < 2; ++i)
        cli[i].Start(ProgramCommand(m, box.PortPath()), DataEnvironment(folders[i]));
    // Both outputs are read at once, so each line carries the moment it came.
    CliResult result[2];
    std::thread second([&] { result[1] = cli[1].Finish(); });
    result[0] = cli[0].Finish();
    second.join();
    RunEvidence run[2] = {EvidenceOf(result[0], folderA), EvidenceOf(result[1], folderB)};
    const int winner = run[0].Exit == 0 ? 0 : 1;
    CloseBox(box, folderA, run[winner], rows[winner]);
    run[1 - winner].FlashDump = run[winner].FlashDump;
    run[1 - winner].EepromDump = run[winner].EepromDump;
    rows[1 - winner].Port = rows[winner].Port;
    rows[winner].Fault += ": winner";
    rows[winner].Phase = "whole update";
    rows[1 - winner].Fault += ": loser";
    ApplyRules(Expected{}, run[winner], m.Device, rows[winner]);
    ApplyRules(InUse(), run[1 - winner], m.Device, rows[1 - winner]);
    return rows;
}
