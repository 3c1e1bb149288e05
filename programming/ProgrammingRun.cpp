#include "programming/ProgrammingRun.h"

#include <cstdio>

#include "image/CheckValue.h"
#include "image/FirmwareId.h"
#include "image/ImageLoader.h"
#include "ledger/Sha256.h"
#include "programming/BoardSerial.h"
#include "programming/DataFolder.h"
#include "programming/FusePresence.h"
#include "programming/IspLockout.h"
#include "programming/OpenAndIdentify.h"
#include "programming/RunFiles.h"
#include "programming/RunGuard.h"

namespace {
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
    return static_cast<ProgrammingRun*>(self)->Progress(position, total, phase);
}

bool ProgrammingRun::Progress(int32_t position, int32_t total, ProgressPhase phase) {
    const bool stop = Report.Progress(position, total, phase);
    if (!stop || !EepromOnItsWay) return stop;
    if (!StopHeld) Report.StopPending();
    StopHeld = true;
    return false;
}

// Nothing more is written once a stop has been asked for.
void ProgrammingRun::StopIfRequested() {
    if (Report.StopRequested()) throw EProgError(errAborted);
}

void ProgrammingRun::StopOnceEepromIsBack() {
    EepromOnItsWay = false;
    if (StopHeld || Report.StopRequested())
        throw EProgError(errAborted,
                         "the eeprom was written back and verified before the stop; the flash "
                         "is not programmed");
}

void ProgrammingRun::Step(const std::string& line) {
    Lines.push_back(LogFileLine(line));
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
        Outcome.Success = RunGuarded([&] { Sequence(*link); },
                                     [&](const EProgError& e) { FailurePath(e, *link); });
        Outcome.Retries = link->RetriesUsed;
    }  // the link goes, and with it the port
    Phases.Stop();
    Outcome.Phases = Phases.Seconds();
    Outcome.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - clockStart).count();
    KeepRecords();
    Report.Ended(Outcome);
    return Outcome;
}

void ProgrammingRun::Sequence(TIspLink& link) {
    // Whatever can be found wrong without the device is found before the port is opened.
    Numbers = CheckRunNumbers(Params);
    if (const DeviceEntry* meantFor = FindDeviceByName(Params.Chip.c_str()))
        CheckFusesPresent(*meantFor, Params);
    CheckDataFolder(Options.DataFolder);
    Keeper.Prepare();
    Phases.Enter(RunPhase::Identification);
    Outcome.Chip =
        OpenAndIdentify(link, Params.PortName, [this](const std::string& line) { Step(line); });
    Outcome.Signature = Hex("%02X ", link.Device.Signature1) + Hex("%02X", link.Device.Signature2);
    Report.ChipIdentified(Outcome.Chip);
    // Before any fuse is written or anything erased; the chip that answered decides.
    CheckFusesPresent(link.Device, Params);
    // The values came from an earlier query of the chip (the catalogue's processor entry for
    // it): a board changed since then must not get another chip's fuses and firmware.
    if (!Params.Chip.empty() && Params.Chip != Outcome.Chip)
        throw EProgError(errChipChanged, "the values are for the " + Params.Chip +
                                             ", the device answers as " + Outcome.Chip +
                                             "; start the update again for the board now on");
    CheckIspLockout(Outcome.Chip, Params);
    LoadImage(link);
    Step("setting port time to 100");
    link.SetPortTime(StartPortTime);
    Phases.Enter(RunPhase::Fuses);
    WriteFuse(link, FuseByte::Lo, Params.FuseLo, Numbers.FuseLo);
    WriteFuse(link, FuseByte::Hi, Params.FuseHi, Numbers.FuseHi);
    WriteFuse(link, FuseByte::Ex, Params.FuseEx, Numbers.FuseEx);
    if (Numbers.Speed) {
        Step("setting port time to " + Params.Speed);
        link.SetPortTime(*Numbers.Speed);
    }
    Phases.Enter(RunPhase::EepromRead);
    Step("reading eeprom...");
    link.ReadEeprom();
    ReadSerial(link);
    StopIfRequested();  // the last point at which a stop leaves the device as it was
    EepromOnItsWay = true;
    Keeper.BeforeErase(link, Started, Outcome);
    Phases.Enter(RunPhase::Erase);
    Step("erasing chip");
    Outcome.DeviceTouched = true;  // even a failed erase may have reached the chip
    link.EraseChip();
    Phases.Enter(RunPhase::EepromWrite);
    Step("programming eeprom...");
    Keeper.ProgramEeprom(link);
    Keeper.WrittenBack();
    StopOnceEepromIsBack();
    Phases.Enter(RunPhase::Flash);
    Step("programming flash...");
    link.ProgramFlash();
    Step("disabling programming mode");
    link.DisableProgMode();
    Step("done without any problem.");
}

// Loads the file and stamps its check value; nothing may lie beyond the chip's flash, and an
// image without data or too short for its check value is no firmware. The record keeps the
// size found, also of an image refused.
void ProgrammingRun::LoadImage(TIspLink& link) {
    Step("loading flash file...");
    const int32_t size = LoadFlashFile(Params.FirmwarePath, link.FlashImage);
    Outcome.FirmwareSha256 = FileSha256Hex(Params.FirmwarePath);
    Outcome.ImageLength = size;
    const int32_t flashSize = link.Device.FlashSize;
    const std::string chipFlash =
        ", the " + Outcome.Chip + " has " + std::to_string(flashSize) + " bytes of flash";
    if (size > flashSize)
        throw EProgError(errImageTooLarge,
                         Params.FirmwarePath + " ends at byte " + std::to_string(size) + chipFlash);
    Step("flash file size is " + std::to_string(size));
    // Only the check value would be written, into an erased chip.
    if (size == 0) throw EProgError(errImageEmpty, Params.FirmwarePath + " holds no data");
    if (Numbers.BootloaderNotANumber)
        Step("bootloader value '" + Params.Bootloader + "' is not a number; using the file size");
    const int32_t length = Numbers.ApplicationLength.value_or(size);
    Outcome.ImageLength = length;
    if (length > flashSize)
        throw EProgError(errImageTooLarge, "application length " + Params.Bootloader + chipFlash);
    // Two bytes or fewer: the check value would land on the reset vector.
    if (length < MinApplicationLength)
        throw EProgError(errImageEmpty, Params.FirmwarePath + " ends at byte " +
                                            std::to_string(size) +
                                            ", too short to carry the check value");
    FindIdentifier(link, size);
    StampCheckValue(link.FlashImage, static_cast<uint32_t>(length));
    Outcome.CheckValue = StoredCheckValue(link.FlashImage, static_cast<uint32_t>(length));
}

// The identifier of the item's pattern, searched in the image as loaded. A file without it
// may be the wrong one; the run goes on, but the log and the record say so.
void ProgrammingRun::FindIdentifier(const TIspLink& link, int32_t size) {
    const std::string& pattern = Options.FirmwareIdText;
    if (pattern.empty()) return;
    Outcome.FirmwareId = FindFirmwareId(link.FlashImage, size, pattern, isp::FlashImageSize);
    Outcome.FirmwareIdMissing = Outcome.FirmwareId.empty();
    if (Outcome.FirmwareIdMissing) Step("the firmware holds no identifier matching " + pattern);
}

// Writes the fuse and reads it back: no reply byte of the write tells whether it took.
void ProgrammingRun::WriteFuse(TIspLink& link, FuseByte fuse, const std::string& text,
                               std::optional<uint8_t> value) {
    if (!value) return;
    StopIfRequested();
    const std::string name = FuseName(fuse);
    Step("programming " + name + " fuse " + text);
    Outcome.DeviceTouched = true;  // even a failed write may have reached the chip
    link.IspCommand(0xAC, InstructionsOf(fuse).Write2, 0x00, *value, isp::FuseParam);
    if (!Outcome.FusesWritten.empty()) Outcome.FusesWritten += ' ';
    Outcome.FusesWritten += name + "=" + Hex("0x%02X", *value);
    const uint8_t read = ReadFuse(link, fuse);
    if (!FusesHeld.empty()) FusesHeld += ' ';
    FusesHeld += name + "=" + Hex("0x%02X", read);
    if (FuseHolds(link.Device, fuse, *value, read)) return;
    throw EProgError(errFuseVerify,
                     name + " fuse written as " + Hex("0x%02X", *value) + " reads back as " +
                         Hex("0x%02X", read) + " (the " + Outcome.Chip + " implements bits " +
                         Hex("0x%02X", ImplementedBits(link.Device, fuse)) + " of it)");
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
    NoteFailureCause(link, e, Outcome, [this](const std::string& line) { Step(line); });
    // Before the chip answered, the port or the system may be the cause: name what it shows.
    if (Outcome.Chip.empty())
        for (const std::string& line : link.ExplainFailure(e)) Step(line);
    if (!Outcome.FusesWritten.empty())
        Step("fuses written before the failure: " + Outcome.FusesWritten);
    if (e.Code == errFuseVerify) Step("fuses the device holds now: " + FusesHeld);
    if (Outcome.DeviceTouched)
        Step(Outcome.EepromCopyPath.empty()
                 ? std::string("the device needs another update")
                 : "the device needs another update; its eeprom copy is " + Outcome.EepromCopyPath);
    Report.Failed(Outcome.Message);
}

// The board's serial from the EEPROM as read, where the catalogue says it lives; a serial
// given to the run wins. A location that is no location is logged and read as none.
void ProgrammingRun::ReadSerial(const TIspLink& link) {
    if (!Options.Context.Serial.empty() || Params.SerialLocation.empty()) return;
    std::string problem;
    const auto where = ParseSerialLocation(Params.SerialLocation, problem);
    if (!where) {
        Step(problem);
        return;
    }
    Outcome.Serial = SerialFromEeprom(link.EepromImage, link.Device.EepromSize, *where);
}

void ProgrammingRun::KeepRecords() {
    const RunRecordInfo info{
        "program",      Started, Params.PortName, Params.FirmwarePath, Options.FirmwareIdText,
        Options.Context};
    KeepRunFiles(Options.DataFolder, info, Lines, Outcome, Report);
}
