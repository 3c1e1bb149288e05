#include "programming/ProgrammingRun.h"

#include <cstdio>

#include "image/CheckValue.h"
#include "image/FirmwareId.h"
#include "image/ImageLoader.h"
#include "programming/DataFolder.h"
#include "programming/IspLockout.h"
#include "programming/OpenAndIdentify.h"
#include "programming/RunFiles.h"

namespace {
constexpr uint8_t FuseLoInstruction = 0xA0, FuseHiInstruction = 0xA8, FuseExInstruction = 0xA4;

std::string Hex(const char* layout, unsigned value) {
    char text[32];
    std::snprintf(text, sizeof text, layout, value);
    return text;
}
}  // namespace

ProgrammingRun::ProgrammingRun(const RunParams& params, IRunReport& report, LinkFactory makeLink,
                               RunOptions options)
    : Params(params),
      Report(report),
      MakeLink(std::move(makeLink)),
      Options(WithDefaultFolder(std::move(options))),
      Keeper(
          Options.DataFolder, Params.PortName, Options.EepromCopyToWrite,
          [this](const std::string& line) { Step(line); }, report) {}

RunOptions ProgrammingRun::WithDefaultFolder(RunOptions options) {
    if (options.DataFolder.empty()) options.DataFolder = DefaultDataFolder();
    return options;
}

bool ProgrammingRun::OnProgress(void* self, int32_t position, int32_t total, ProgressPhase phase) {
    return static_cast<ProgrammingRun*>(self)->Report.Progress(position, total, phase);
}

void ProgrammingRun::Step(const std::string& line) {
    Lines.push_back(line);
    Report.Log(line);
}

RunOutcome ProgrammingRun::Execute() {
    Started = std::chrono::system_clock::now();
    const auto clockStart = std::chrono::steady_clock::now();
    Report.ClearLog();
    {
        std::unique_ptr<TIspLink> link = MakeLink();
        link->OnProgress = &ProgrammingRun::OnProgress;
        link->UserData = this;
        try {
            Sequence(*link);
            Outcome.Success = true;
        } catch (const EProgError& e) {
            FailurePath(e, *link);
        }
        Outcome.Retries = link->RetriesUsed;
    }  // the link goes, and with it the port
    Outcome.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - clockStart).count();
    KeepRecords();
    Report.Ended(Outcome);
    return Outcome;
}

void ProgrammingRun::Sequence(TIspLink& link) {
    // Whatever can be found wrong without the device is found before the port is opened.
    Numbers = CheckRunNumbers(Params);
    CheckDataFolder(Options.DataFolder);
    Keeper.Prepare();
    Outcome.Chip =
        OpenAndIdentify(link, Params.PortName, [this](const std::string& line) { Step(line); });
    Report.ChipIdentified(Outcome.Chip);
    CheckIspLockout(Outcome.Chip, Params);  // before any fuse is written or anything erased
    LoadImage(link);
    Step("setting port time to 100");
    link.SetPortTime(StartPortTime);
    WriteFuse(link, "Lo", Params.FuseLo, Numbers.FuseLo, FuseLoInstruction);
    WriteFuse(link, "Hi", Params.FuseHi, Numbers.FuseHi, FuseHiInstruction);
    WriteFuse(link, "Ex", Params.FuseEx, Numbers.FuseEx, FuseExInstruction);
    if (Numbers.Speed) {
        Step("setting port time to " + Params.Speed);
        link.SetPortTime(*Numbers.Speed);
    }
    Step("reading eeprom...");
    link.ReadEeprom();
    Keeper.BeforeErase(link, Started, Outcome);
    Step("erasing chip");
    Outcome.DeviceTouched = true;  // even a failed erase may have reached the chip
    link.EraseChip();
    Step("programming eeprom...");
    link.ProgramEeprom();
    Keeper.WrittenBack();
    Step("programming flash...");
    link.ProgramFlash();
    Step("disabling programming mode");
    link.DisableProgMode();
    Step("done without any problem.");
}

// Loads the file and stamps its check value; nothing may lie beyond the chip's flash.
void ProgrammingRun::LoadImage(TIspLink& link) {
    Step("loading flash file...");
    const int32_t size = LoadFlashFile(Params.FirmwarePath, link.FlashImage);
    const int32_t flashSize = link.Device.FlashSize;
    const std::string chipFlash =
        ", the " + Outcome.Chip + " has " + std::to_string(flashSize) + " bytes of flash";
    if (size > flashSize)
        throw EProgError(errImageTooLarge,
                         Params.FirmwarePath + " ends at byte " + std::to_string(size) + chipFlash);
    Step("flash file size is " + std::to_string(size));
    if (Numbers.BootloaderNotANumber)
        Step("bootloader value '" + Params.Bootloader + "' is not a number; using the file size");
    const int32_t length = Numbers.ApplicationLength.value_or(size);
    if (length > flashSize)
        throw EProgError(errImageTooLarge, "application length " + Params.Bootloader + chipFlash);
    // Two bytes or fewer: the check value would land on the reset vector.
    if (length < MinApplicationLength)
        throw EProgError(
            errImageTooLarge,
            Params.FirmwarePath + (size == 0 ? " holds no data"
                                             : " ends at byte " + std::to_string(size) +
                                                   ", too short to carry the check value"));
    Outcome.FirmwareId =
        FindFirmwareId(link.FlashImage, size, Options.FirmwareIdText, isp::FlashImageSize);
    StampCheckValue(link.FlashImage, static_cast<uint32_t>(length));
    Outcome.ImageLength = length;
    Outcome.CheckValue = StoredCheckValue(link.FlashImage, static_cast<uint32_t>(length));
}

void ProgrammingRun::WriteFuse(TIspLink& link, const char* name, const std::string& text,
                               std::optional<uint8_t> value, uint8_t instruction) {
    if (!value) return;
    Step(std::string("programming ") + name + " fuse " + text);
    Outcome.DeviceTouched = true;  // even a failed write may have reached the chip
    link.IspCommand(0xAC, instruction, 0x00, *value, isp::FuseParam);
    if (!Outcome.FusesWritten.empty()) Outcome.FusesWritten += ' ';
    Outcome.FusesWritten += std::string(name) + "=" + Hex("0x%02X", *value);
}

void ProgrammingRun::FailurePath(const EProgError& e, TIspLink& link) {
    Outcome.Code = e.Code;
    Outcome.Message = GetErrorText(e.Code);
    Outcome.Detail = e.Detail;
    Step("programming interrupted: " + Outcome.Message);
    if (e.Code == errFlashProgram) {  // the dump comes first, right below the text it explains
        Step("*** data dump begin ***");
        for (const std::string& line : link.MismatchLog) Step(line);
        Step("*** data dump end ***");
    }
    if (!e.Detail.empty()) Step(e.Detail);
    // Before the failure is reported (status, alert, record): a board taken off must not read
    // as a chip that failed. The failure line is in the log already, so the bench sees it at
    // once while a silent box takes its time-out to not answer the question.
    const CauseFinding cause = FindFailureCause(link, e);
    Outcome.Cause = cause.Cause;
    if (!cause.Line.empty()) {
        Outcome.Detail += (Outcome.Detail.empty() ? "" : "\n") + cause.Line;
        Step(cause.Line);
    }
    // Before the chip answered, the port or the system may be the cause: name what it shows.
    if (Outcome.Chip.empty())
        for (const std::string& line : link.ExplainFailure(e)) Step(line);
    if (!Outcome.FusesWritten.empty())
        Step("fuses written before the failure: " + Outcome.FusesWritten);
    if (Outcome.DeviceTouched)
        Step(Outcome.EepromCopyPath.empty()
                 ? std::string("the device needs another update")
                 : "the device needs another update; its eeprom copy is " + Outcome.EepromCopyPath);
    Report.Failed(Outcome.Message);
}

void ProgrammingRun::KeepRecords() {
    const RunRecordInfo info{"program", Started, Params.PortName, Params.FirmwarePath,
                             Options.FirmwareIdText};
    KeepRunFiles(Options.DataFolder, info, Lines, Outcome, Report);
}
