#include "programming/EepromKeeper.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <filesystem>

#include "link/ImageBuffer.h"
#include "platform/SystemFiles.h"
#include "programming/EepromCopy.h"

namespace {
constexpr std::size_t Block = 32;  // one 'w' frame

bool IsBlankBlock(const uint8_t* bytes) {
    return std::all_of(bytes, bytes + Block, [](uint8_t b) { return b == isp::Blank; });
}

// For ProgramEepromOver, which skips the blocks the image shares with this: after the chip
// erase a block holds blank bytes, or, with EESAVE programmed, what was read. Only where the
// image's block is both (blank, and blank when read) can the write be left out; everywhere
// else this differs from the image, so the block is written.
std::vector<uint8_t> WhatTheEraseMayLeave(const uint8_t* image, const std::vector<uint8_t>& read) {
    std::vector<uint8_t> mayHold(read.size(), isp::Blank);
    for (std::size_t at = 0; at + Block <= read.size(); at += Block) {
        const uint8_t* was = read.data() + at;
        if (!IsBlankBlock(was) && std::memcmp(image + at, was, Block) != 0)
            std::memcpy(mayHold.data() + at, was, Block);
    }
    return mayHold;
}

// A descriptor holding the lock, or -1 when another run holds it (or the file is gone).
int LockCopy(const std::string& path, sysfile::Lock how) {
    const int fd = sysfile::Open(path, sysfile::Read | sysfile::NonBlocking);
    if (fd < 0) return -1;
    while (sysfile::LockWhole(fd, how, false) != 0) {
        if (errno == EINTR) continue;
        const int err = errno;
        sysfile::Close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

const PendingContent* Find(const std::vector<PendingContent>& pending, const std::string& path) {
    for (const PendingContent& p : pending)
        if (p.Copy.Path == path) return &p;
    return nullptr;
}

}  // namespace

bool EepromCopyInUse(const std::string& path) {
    const int fd = LockCopy(path, sysfile::Lock::Shared);
    if (fd < 0) return errno == EWOULDBLOCK;
    sysfile::Close(fd);
    return false;
}

EepromKeeper::EepromKeeper(std::string dataFolder, std::string port, std::string copyToWrite,
                           LogLine log, IRunReport& report)
    : DataFolder(std::move(dataFolder)),
      Port(std::move(port)),
      CopyToWrite(std::move(copyToWrite)),
      Log(std::move(log)),
      Report(report) {}

EepromKeeper::~EepromKeeper() {
    if (CopyInUse >= 0) sysfile::Close(CopyInUse);
}

void EepromKeeper::Prepare() {
    if (!CopyToWrite.empty()) {
        Log("loading eeprom copy " + CopyToWrite);
        ChosenCopy = LoadEepromCopy(CopyToWrite);
    }
    std::string file;
    if (const int err = CheckPendingRecord(DataFolder, &file))
        throw PendingRecordFailure(err, file);
}

void EepromKeeper::BeforeErase(TIspLink& link, std::chrono::system_clock::time_point started,
                               RunOutcome& outcome) {
    SaveWhatWasRead(link, started, outcome);
    if (!CopyToWrite.empty()) {
        CheckCopyFits(CopyToWrite, ChosenCopy, link.Device);
        Log("writing eeprom copy " + CopyToWrite + " instead of the eeprom read");
        std::memcpy(link.EepromImage, ChosenCopy.data(), ChosenCopy.size());
        outcome.EepromCopyPath = RecordedCopyPath(CopyToWrite);
    } else {
        CheckPendingCopies(link, outcome);
    }
    // Saving the copy takes its time on a slow disk, and the window's question lets a person
    // press Abort: a stop asked for by now still ends the run with nothing erased.
    if (Report.StopRequested()) throw EProgError(errAborted);
    MarkGoingBack(link.Device.Name, outcome);
}

void EepromKeeper::SaveWhatWasRead(TIspLink& link, std::chrono::system_clock::time_point started,
                                   RunOutcome& outcome) {
    const std::string path =
        ClaimEepromCopyPath(DataFolder + "/eeprom", link.Device.Name, Port, started);
    Log("saving eeprom copy to " + path);
    WhatWasRead.assign(link.EepromImage,
                       link.EepromImage + static_cast<std::size_t>(link.Device.EepromSize));
    SaveEepromCopy(path, WhatWasRead.data(), WhatWasRead.size());
    outcome.EepromSavedPath = outcome.EepromCopyPath = path;
}

void EepromKeeper::CheckPendingCopies(TIspLink& link, RunOutcome& outcome) {
    const std::string chip = link.Device.Name;
    const auto size = static_cast<std::size_t>(link.Device.EepromSize);
    const std::vector<PendingContent> pending = PendingOfChip(chip, size);
    // What other boards held is only needed where a pending copy may fit a device that holds
    // data.
    const bool blank = std::all_of(WhatWasRead.begin(), WhatWasRead.end(),
                                   [](uint8_t b) { return b == isp::Blank; });
    const bool mayFit = std::any_of(pending.begin(), pending.end(), [&](const PendingContent& p) {
        return FitsInterruptedWriteBack(link.EepromImage, size, p.Bytes);
    });
    const std::vector<KnownCopy> known = mayFit && !blank
                                             ? KnownCopiesOf(chip, size, outcome.EepromSavedPath)
                                             : std::vector<KnownCopy>{};
    const EepromVerdict v = JudgeEeprom(link.EepromImage, size, chip, pending, known);
    for (const PendingCopy& c : v.Settled) ToClear.push_back(c.Path);
    if (v.Decision == EepromVerdict::Restore)
        WriteBack(*Find(pending, v.Candidates[0].Path), link, outcome);
    else if (v.Decision == EepromVerdict::Ask)
        Decide(EepromQuestion{chip, v.DeviceBlank, v.Candidates, v.DeviceCommon}, pending, link,
               outcome);
}

std::vector<PendingContent> EepromKeeper::PendingOfChip(const std::string& chip, std::size_t size) {
    std::vector<PendingCopy> marks, idle;
    std::string file;
    if (const int err = ReadPendingCopies(DataFolder, marks, &file))
        throw PendingRecordFailure(err, file);
    for (const PendingCopy& mark : marks)
        if (mark.Chip == chip && !EepromCopyInUse(mark.Path)) idle.push_back(mark);
    // A run clears its mark before it lets go of its copy: a mark still there now is no
    // longer part of a run under way.
    if (const int err = ReadPendingCopies(DataFolder, marks, &file))
        throw PendingRecordFailure(err, file);
    std::vector<PendingContent> pending;
    for (const PendingCopy& mark : idle) {
        const bool stillMarked = std::any_of(
            marks.begin(), marks.end(), [&](const PendingCopy& m) { return m.Path == mark.Path; });
        if (!stillMarked) continue;
        try {
            std::vector<uint8_t> bytes = LoadEepromCopy(mark.Path);
            if (bytes.size() == size) pending.push_back({mark, std::move(bytes)});
        } catch (const EProgError& e) {
            Log("pending eeprom copy cannot be used: " +
                (e.Detail.empty() ? GetErrorText(e.Code) : e.Detail));
        }
    }
    return pending;
}

// Every copy of the chip on this machine but the one this run saved of the device: the data
// folder's copies and the pending ones wherever they lie. A file that cannot be read or is
// of another size tells nothing of what boards of this chip hold, and is passed over.
std::vector<KnownCopy> EepromKeeper::KnownCopiesOf(const std::string& chip, std::size_t size,
                                                   const std::string& ownCopy) {
    std::vector<std::string> paths;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(sysfile::FsPath(DataFolder + "/eeprom"), ec), end;
         !ec && it != end; it.increment(ec))
        if (ChipOfEepromCopy(sysfile::FsText(it->path())) == chip)
            paths.push_back(RecordedCopyPath(sysfile::FsText(it->path())));
    std::vector<PendingCopy> marks;
    if (ReadPendingCopies(DataFolder, marks) == 0)
        for (const PendingCopy& m : marks)
            if (m.Chip == chip && std::find(paths.begin(), paths.end(), m.Path) == paths.end())
                paths.push_back(m.Path);
    std::vector<KnownCopy> known;
    const std::string own = RecordedCopyPath(ownCopy);
    for (const std::string& path : paths) {
        sysfile::Info st;
        if (path == own || sysfile::InfoAt(path, st) != 0 || st.Type != sysfile::Kind::Regular ||
            static_cast<std::size_t>(st.Size) != size)
            continue;
        try {
            const auto saved = std::chrono::system_clock::time_point(
                std::chrono::duration_cast<std::chrono::system_clock::duration>(
                    std::chrono::seconds(st.ModifiedSeconds) +
                    std::chrono::nanoseconds(st.ModifiedNanoseconds)));
            known.push_back({path, LoadEepromCopy(path), saved});
        } catch (const EProgError&) {
            // passed over, as said above
        }
    }
    return known;
}

void EepromKeeper::Decide(const EepromQuestion& question,
                          const std::vector<PendingContent>& pending, TIspLink& link,
                          RunOutcome& outcome) {
    const EepromAnswer answer = Report.AskAboutEeprom(question);
    if (answer.Kind == EepromAnswer::WriteCopy) {
        const std::string chosen = RecordedCopyPath(answer.CopyPath);
        for (const PendingCopy& c : question.Candidates)
            if (c.Path == chosen) return WriteBack(*Find(pending, chosen), link, outcome);
    } else if (answer.Kind == EepromAnswer::KeepDevice) {
        if (!answer.Detail.empty()) Log(answer.Detail);
        for (const PendingCopy& c : question.Candidates)
            Log("keeping the eeprom as read; pending eeprom copy " + c.Path + " not used");
        return;
    }
    throw EProgError(errEepromUndecided,
                     answer.Detail.empty() ? DescribeCandidates(question) : answer.Detail);
}

void EepromKeeper::WriteBack(const PendingContent& copy, TIspLink& link, RunOutcome& outcome) {
    Log("restoring eeprom from " + copy.Copy.Path + " left by an interrupted update");
    std::memcpy(link.EepromImage, copy.Bytes.data(), copy.Bytes.size());
    outcome.EepromCopyPath = copy.Copy.Path;
}

// Until the EEPROM is back, a failure must leave a trace the next run can find.
void EepromKeeper::MarkGoingBack(const std::string& chip, RunOutcome& outcome) {
    CopyInUse = LockCopy(outcome.EepromCopyPath, sysfile::Lock::Exclusive);
    if (CopyInUse < 0)
        throw EProgError(errBackupRead, "File: " + outcome.EepromCopyPath +
                                            " is being written back by another update");
    const PendingCopy mark{outcome.EepromCopyPath, chip, Port, std::chrono::system_clock::now()};
    std::string file;
    if (const int err = ::MarkPending(DataFolder, mark, &file))
        throw PendingRecordFailure(err, file);
    ToClear.push_back(outcome.EepromCopyPath);
}

void EepromKeeper::ProgramEeprom(TIspLink& link) {
    if (std::equal(WhatWasRead.begin(), WhatWasRead.end(), link.EepromImage)) {
        link.ProgramEeprom();
        return;
    }
    // EESAVE programmed keeps the EEPROM through the erase: skipping the image's blank blocks
    // would leave the old bytes there. The whole read-back is the proof either way.
    const std::vector<uint8_t> mayHold = WhatTheEraseMayLeave(link.EepromImage, WhatWasRead);
    link.ProgramEepromOver(mayHold.data());
    Log("verifying eeprom...");
    link.VerifyEeprom();
}

// After the write-back a mark that stays only makes a later run of this device find its copy
// whole already; the run goes on and says so.
void EepromKeeper::WrittenBack() {
    std::string file;
    if (const int err = ClearPending(DataFolder, ToClear, &file))
        Log("could not update the pending eeprom record " + file + ": " + PendingRecordReason(err));
    ToClear.clear();
    sysfile::Close(CopyInUse);
    CopyInUse = -1;
}
