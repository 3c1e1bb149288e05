#include "programming/EepromRestore.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "link/OsErrorText.h"
#include "programming/DataFolder.h"
#include "programming/EepromCopy.h"
#include "programming/FailureCause.h"
#include "programming/OpenAndIdentify.h"
#include "programming/PendingCopies.h"
#include "programming/RunFiles.h"
#include "programming/RunGuard.h"

namespace {
class Restore {
public:
    Restore(const std::string& port, const std::string& copyPath, IRunReport& report,
            const std::string& dataFolder, RunContext context)
        : Port(port),
          CopyPath(copyPath),
          Report(report),
          DataFolder(dataFolder.empty() ? DefaultDataFolder() : dataFolder),
          Context(std::move(context)) {}

    RunOutcome Execute(const LinkFactory& makeLink);

private:
    void Sequence(TIspLink& link);
    void Step(const std::string& line) {
        Lines.push_back(LogFileLine(line));
        Report.Log(line);
    }
    void Failed(const EProgError& e, TIspLink& link);
    static bool Forward(void* self, int32_t position, int32_t total, ProgressPhase phase) {
        return static_cast<Restore*>(self)->Progress(position, total, phase);
    }
    bool Progress(int32_t position, int32_t total, ProgressPhase phase);

    const std::string Port, CopyPath;
    IRunReport& Report;
    const std::string DataFolder;
    const RunContext Context;
    std::chrono::system_clock::time_point Started = std::chrono::system_clock::now();
    std::vector<std::string> Lines;
    RunOutcome Outcome;
    // Once it writes, a stop waits until the copy is in and verified: a restore cut short
    // leaves the device with neither its old EEPROM nor the copy.
    bool Writing = false;
    bool StopHeld = false;
};

bool Restore::Progress(int32_t position, int32_t total, ProgressPhase phase) {
    const bool stop = Report.Progress(position, total, phase);
    if (!stop || !Writing) return stop;
    if (!StopHeld) Report.StopPending();
    StopHeld = true;
    return false;
}

RunOutcome Restore::Execute(const LinkFactory& makeLink) {
    const auto clockStart = std::chrono::steady_clock::now();
    Outcome.EepromCopyPath = RecordedCopyPath(CopyPath);
    Report.ClearLog();
    {
        std::unique_ptr<TIspLink> link = makeLink();
        link->OnProgress = &Forward;
        link->UserData = this;
        Outcome.Success =
            RunGuarded([&] { Sequence(*link); }, [&](const EProgError& e) { Failed(e, *link); });
        Outcome.Retries = link->RetriesUsed;
    }
    Outcome.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - clockStart).count();
    KeepRunFiles(DataFolder, RunRecordInfo{"restore-eeprom", Started, Port, {}, {}, Context}, Lines,
                 Outcome, Report);
    Report.Ended(Outcome);
    return Outcome;
}

void Restore::Sequence(TIspLink& link) {
    Step("loading eeprom copy " + CopyPath);
    const std::vector<uint8_t> copy = LoadEepromCopy(CopyPath);
    std::string recordFile;
    if (const int err = CheckPendingRecord(DataFolder, &recordFile))
        throw PendingRecordFailure(err, recordFile);  // before the port is opened
    Outcome.Chip = OpenAndIdentify(link, Port, [this](const std::string& line) { Step(line); });
    char signature[8];
    std::snprintf(signature, sizeof signature, "%02X %02X", link.Device.Signature1,
                  link.Device.Signature2);
    Outcome.Signature = signature;
    Report.ChipIdentified(Outcome.Chip);
    CheckCopyFits(CopyPath, copy, link.Device);
    Step("reading eeprom...");
    link.ReadEeprom();
    if (Report.StopRequested()) throw EProgError(errAborted);  // nothing written yet
    Writing = true;
    // What the copy replaces may be the only record of another unit's data.
    const std::vector<uint8_t> before(link.EepromImage, link.EepromImage + copy.size());
    const std::string saved =
        ClaimEepromCopyPath(DataFolder + "/eeprom", Outcome.Chip, Port, Started);
    Step("saving eeprom copy to " + saved);
    SaveEepromCopy(saved, before.data(), before.size());
    Outcome.EepromSavedPath = saved;
    std::memcpy(link.EepromImage, copy.data(), copy.size());
    // A restore cut short leaves a device holding parts of both: until the copy is in, the
    // copy stays marked, so that the next run and 'pending' name it.
    const PendingCopy mark{Outcome.EepromCopyPath, Outcome.Chip, Port,
                           std::chrono::system_clock::now()};
    if (const int err = MarkPending(DataFolder, mark, &recordFile))
        throw PendingRecordFailure(err, recordFile);
    Step("programming eeprom...");
    Outcome.DeviceTouched = true;
    link.ProgramEepromOver(before.data());
    Step("verifying eeprom...");
    link.VerifyEeprom();
    Writing = false;
    if (StopHeld || Report.StopRequested())
        Step(
            "the stop came while the eeprom was being written; the restore was finished and "
            "verified first");
    if (const int err = ClearPending(DataFolder, {CopyPath}))
        Step("could not update the pending eeprom record " + PendingRecordPath(DataFolder) + ": " +
             OsErrorText(err));
    Step("disabling programming mode");
    link.DisableProgMode();
    Step("done without any problem.");
}

void Restore::Failed(const EProgError& e, TIspLink& link) {
    Outcome.Code = e.Code;
    Outcome.Message = GetErrorText(e.Code);
    Outcome.Detail = e.Detail;
    Step("programming interrupted: " + Outcome.Message);
    if (!e.Detail.empty()) Step(e.Detail);
    // A board taken off must not read as a chip that did not keep the copy.
    NoteFailureCause(link, e, Outcome, [this](const std::string& line) { Step(line); });
    // Before the chip answered, the port or the system may be the cause: name what it shows.
    if (Outcome.Chip.empty())
        for (const std::string& line : link.ExplainFailure(e)) Step(line);
    if (Outcome.DeviceTouched)
        Step("the eeprom is not fully restored; its copy is " + Outcome.EepromCopyPath +
             ", what the device held before is in " + Outcome.EepromSavedPath);
    Report.Failed(Outcome.Message);
}
}  // namespace

RunOutcome RestoreEeprom(const std::string& portName, const std::string& copyPath,
                         IRunReport& report, const LinkFactory& makeLink,
                         const std::string& dataFolder, const RunContext& context) {
    return Restore(portName, copyPath, report, dataFolder, context).Execute(makeLink);
}
