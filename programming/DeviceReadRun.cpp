#include "programming/DeviceReadRun.h"

#include <cstdio>
#include <cstring>

#include "image/FirmwareId.h"
#include "image/IntelHexWriter.h"
#include "ledger/Sha256.h"
#include "link/FuseMeaning.h"
#include "link/Fuses.h"
#include "programming/DataFolder.h"
#include "programming/InstalledFirmware.h"
#include "programming/IspLockout.h"
#include "programming/OpenAndIdentify.h"
#include "programming/PortFileName.h"
#include "programming/RunFiles.h"
#include "programming/RunGuard.h"
#include "programming/RunPreflight.h"
#include "programming/StampedImage.h"
#include "programming/UniqueFile.h"

const char* const HoldsItemText = "Device holds this item's firmware.";
const char* const HoldsFileText = "Device holds this firmware.";

namespace {
constexpr char Indent[] = "  ";

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

const std::optional<uint8_t> ValueOf(const DeviceReadout& r, FuseByte fuse) {
    for (const FuseReading& f : r.Fuses)
        if (f.Fuse == fuse) return f.Value;
    return std::nullopt;
}
}  // namespace

DeviceReadRun::DeviceReadRun(DeviceReadRequest request, IRunReport& report, LinkFactory makeLink)
    : Request(std::move(request)), Report(report), MakeLink(std::move(makeLink)) {}

const char* DeviceReadRun::OperationName() const {
    return Request.Operation == DeviceReadRequest::Read ? "read" : "verify";
}

bool DeviceReadRun::OnProgress(void* self, int32_t position, int32_t total, ProgressPhase phase) {
    return static_cast<DeviceReadRun*>(self)->Report.Progress(position, total, phase);
}

void DeviceReadRun::StopIfAsked() const {
    if (Report.StopRequested()) throw EProgError(errAborted);
}

void DeviceReadRun::Step(const std::string& line) {
    Lines.push_back(LogFileLine(line));
    Report.Log(line);
}

RunOutcome DeviceReadRun::Execute() {
    Started = std::chrono::system_clock::now();
    const auto clockStart = std::chrono::steady_clock::now();
    const std::string folder =
        Request.DataFolder.empty() ? DefaultDataFolder() : Request.DataFolder;
    Report.ClearLog();
    {
        std::unique_ptr<TIspLink> link = MakeLink();
        link->OnProgress = &DeviceReadRun::OnProgress;
        link->UserData = this;
        Outcome.Success = RunGuarded(
            [&] {
                if (Request.Operation == DeviceReadRequest::Read)
                    ReadSequence(*link, folder);
                else
                    VerifySequence(*link, folder);
            },
            [&](const EProgError& e) { Failed(e, *link); });
        Outcome.Retries = link->RetriesUsed;
    }  // the link goes, and with it the port
    Phases.Stop();
    Outcome.Phases = Phases.Seconds();
    Outcome.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - clockStart).count();
    const RunRecordInfo info{OperationName(),         Started,
                             Request.PortName,        Request.FirmwarePath,
                             Request.FirmwarePattern, Request.Context};
    KeepRunFiles(folder, info, Lines, Outcome, Report);
    Report.Ended(Outcome);
    return Outcome;
}

std::string DeviceReadRun::Identify(TIspLink& link) {
    Phases.Enter(RunPhase::Identification);
    Outcome.Chip =
        OpenAndIdentify(link, Request.PortName, [this](const std::string& l) { Step(l); });
    Report.ChipIdentified(Outcome.Chip);
    Outcome.Readout.Signature1 = link.Device.Signature1;
    Outcome.Readout.Signature2 = link.Device.Signature2;
    Outcome.Signature =
        Hex2(link.Device.Signature1).substr(2) + " " + Hex2(link.Device.Signature2).substr(2);
    Step("signature bytes " + Hex2(link.Device.Signature1) + " " + Hex2(link.Device.Signature2));
    return Outcome.Chip;
}

void DeviceReadRun::ReadSequence(TIspLink& link, const std::string& dataFolder) {
    Step("reading the device; nothing is written to it");
    CheckDataFolder(dataFolder);  // before the port is opened
    if (!Request.SaveFolder.empty())
        if (const int err = MakeFolders(Request.SaveFolder))
            throw OsFailure(errBackupWrite, err, "Folder: " + Request.SaveFolder);
    const std::string chip = Identify(link);
    StopIfAsked();
    Step("reading programmer version");
    Outcome.Readout.Box = link.ReadVersion();
    Step("programmer is " + Outcome.Readout.Box);
    // A stop is seen between the parts too, not only inside the long reads.
    for (void (DeviceReadRun::*part)(TIspLink&) :
         {&DeviceReadRun::ReadFuses, &DeviceReadRun::ReadLockBitsOf, &DeviceReadRun::ReadFlashPart,
          &DeviceReadRun::ReadEepromPart}) {
        StopIfAsked();
        (this->*part)(link);
    }
    StopIfAsked();
    SaveCopies(link);
    Step("disabling programming mode");
    link.DisableProgMode();
    DeviceReadout& r = Outcome.Readout;
    r.Verdict = r.LockRead && ForbidsReading(r.LockBits)
                    ? "locked (LB mode 3): the flash cannot be read back, what it holds is unknown"
                    : FlashVerdict(r);
    Step(r.Verdict);
}

void DeviceReadRun::ReadFuses(TIspLink& link) {
    Phases.Enter(RunPhase::Fuses);
    DeviceReadout& r = Outcome.Readout;
    const std::vector<FuseByte> fuses = FusesOf(link.Device);
    if (fuses.empty()) {
        Step(std::string("the ") + link.Device.Name +
             " has no fuses or lock bits the serial interface can read");
        return;
    }
    Step("reading fuses and lock bits");
    for (FuseByte fuse : fuses) {
        FuseReading reading;
        reading.Fuse = fuse;
        reading.Value = ReadFuse(link, fuse);
        reading.Meaning = DescribeFuse(link.Device, fuse, reading.Value);
        Step(std::string("fuse ") + FuseName(fuse) + " " + Hex2(reading.Value));
        for (const std::string& line : reading.Meaning) Step(Indent + line);
        r.Fuses.push_back(std::move(reading));
    }
    r.LockoutProblems = IspLockoutProblems(
        link.Device.Name,
        {ValueOf(r, FuseByte::Lo), ValueOf(r, FuseByte::Hi), ValueOf(r, FuseByte::Ex)});
    if (r.LockoutProblems.empty()) {
        Step("lock-out guard: these fuse values keep serial programming open");
        return;
    }
    std::string problems;
    for (const std::string& p : r.LockoutProblems) problems += (problems.empty() ? "" : "; ") + p;
    Step("lock-out guard: " + problems);
}

void DeviceReadRun::ReadLockBitsOf(TIspLink& link) {
    if (!HasLockRead(link.Device)) return;
    DeviceReadout& r = Outcome.Readout;
    r.LockBits = ReadLockBits(link);
    r.LockRead = true;
    r.LockMeaning = DescribeLockBits(link.Device, r.LockBits);
    Step("lock bits " + Hex2(r.LockBits));
    for (const std::string& line : r.LockMeaning) Step(Indent + line);
    if (ForbidsReading(r.LockBits))
        Step(
            "the lock bits keep the flash and eeprom from being read back: what the reads below "
            "return is not their content");
}

void DeviceReadRun::ReadFlashPart(TIspLink& link) {
    Phases.Enter(RunPhase::Flash);
    const std::vector<KnownFirmware> known = Request.KnownFirmwares
                                                 ? Request.KnownFirmwares(Outcome.Chip)
                                                 : std::vector<KnownFirmware>{};
    if (!Request.CatalogueNote.empty()) Step(Request.CatalogueNote);
    Step("reading flash...");
    link.ReadFlash();
    DeviceReadout& r = Outcome.Readout;
    r.FlashRead = true;
    SurveyFlash(link.FlashImage, link.Device, known, r);
    for (const std::string& line : SurveyLines(r, link.Device.FlashSize)) Step(line);
    if (const ItemCheck* best = BestCheck(r)) {
        Outcome.FirmwareId = best->Identifier;
        Outcome.ImageLength = best->Length;
        Outcome.CheckValue = best->Stored;
    }
}

void DeviceReadRun::ReadEepromPart(TIspLink& link) {
    Phases.Enter(RunPhase::EepromRead);
    Step("reading eeprom...");
    link.ReadEeprom();
    DeviceReadout& r = Outcome.Readout;
    const auto size = static_cast<std::size_t>(link.Device.EepromSize);
    r.EepromRead = true;
    r.EepromBlank = TIspLink::IsBlank(link.EepromImage, link.Device.EepromSize);
    r.EepromSha256 = Sha256Hex(link.EepromImage, size);
    Step(r.EepromBlank ? "eeprom: blank" : "eeprom: holds data");
    Step("eeprom sha-256: " + r.EepromSha256);
}

// Named like a run's EEPROM copy, as Intel HEX. A copy made here is what the device holds,
// never a pending one: nothing is waiting to be written back.
void DeviceReadRun::SaveCopies(const TIspLink& link) {
    if (Request.SaveFolder.empty()) return;
    const std::string tail = std::string("-") + Outcome.Chip + "-" +
                             PortFileName(Request.PortName) + "-" + FileTimeStamp(Started);
    const auto save = [&](const char* what, const uint8_t* bytes, int32_t size, bool skipBlank) {
        const FileResult claimed = ClaimUniqueFile(Request.SaveFolder + "/" + what + tail, ".hex");
        if (claimed.Error != 0)
            throw OsFailure(errBackupWrite, claimed.Error, "File: " + claimed.Failed);
        Step(std::string("saving ") + what + " to " + claimed.Path);
        const std::string text = IntelHexText(bytes, size, skipBlank);
        if (const int err = WriteFileDurably(claimed.Path, text.data(), text.size())) {
            std::remove(claimed.Path.c_str());
            throw OsFailure(errBackupWrite, err, "File: " + claimed.Path);
        }
        return claimed.Path;
    };
    // The EEPROM whole, every byte; the flash without its blank records.
    Outcome.Readout.EepromCopyPath =
        save("eeprom", link.EepromImage, link.Device.EepromSize, false);
    Outcome.EepromSavedPath = Outcome.Readout.EepromCopyPath;
    Outcome.Readout.FlashCopyPath = save("flash", link.FlashImage, link.Device.FlashSize, true);
}

void DeviceReadRun::VerifySequence(TIspLink& link, const std::string& dataFolder) {
    Step("verifying the device against " + Request.FirmwarePath + "; nothing is written to it");
    RunParams numbers;
    numbers.Bootloader = Request.ApplicationLength;
    CheckRunNumbers(numbers);  // before the port is opened
    CheckDataFolder(dataFolder);
    Identify(link);
    StopIfAsked();
    if (HasLockRead(link.Device)) {
        DeviceReadout& r = Outcome.Readout;
        Step("reading lock bits");
        r.LockBits = ReadLockBits(link);
        r.LockRead = true;
        Step("lock bits " + Hex2(r.LockBits));
        if (ForbidsReading(r.LockBits))
            Step(
                "the lock bits keep the flash from being read back (LB mode 3): a difference "
                "found below says nothing about the firmware");
    }
    const StampedImage image =
        LoadStampedImage(Request.FirmwarePath, Request.ApplicationLength, link.Device,
                         link.FlashImage, [this](const std::string& l) { Step(l); });
    if (!Request.FirmwarePattern.empty()) {
        Outcome.FirmwareId = FindFirmwareId(link.FlashImage, image.Size, Request.FirmwarePattern,
                                            isp::FlashImageSize);
        if (Outcome.FirmwareId.empty())
            Step("the firmware holds no identifier matching " + Request.FirmwarePattern);
    }
    Outcome.ImageLength = image.Length;
    Outcome.CheckValue = image.CheckValue;
    Outcome.FirmwareSha256 = FileSha256Hex(Request.FirmwarePath);
    StopIfAsked();
    Phases.Enter(RunPhase::Flash);
    Step("verifying flash...");
    link.VerifyFlash();
    Step("disabling programming mode");
    link.DisableProgMode();
    Outcome.Readout.Verdict = Request.IsItem ? HoldsItemText : HoldsFileText;
    Step(Outcome.Readout.Verdict);
}

void DeviceReadRun::Failed(const EProgError& e, const TIspLink& link) {
    Outcome.Code = e.Code;
    Outcome.Message = GetErrorText(e.Code);
    Outcome.Detail = e.Detail;
    if (e.Code == errFlashVerify) {
        Outcome.Readout.DifferingBlocks = link.BlocksDiffering;
        Outcome.Readout.Verdict = Outcome.Message;
        Step("verify failed: " + Outcome.Message);
        Step("*** data dump begin ***");
        for (const std::string& line : link.MismatchLog) Step(line);
        Step("*** data dump end ***");
    } else {
        Step(std::string(Request.Operation == DeviceReadRequest::Read ? "reading" : "verifying") +
             " interrupted: " + Outcome.Message);
    }
    if (!e.Detail.empty()) Step(e.Detail);
    if (Outcome.Chip.empty())
        for (const std::string& line : link.ExplainFailure(e)) Step(line);
    Step("nothing was written to the device");
    Report.Failed(Outcome.Message);
}
