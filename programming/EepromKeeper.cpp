#include "programming/EepromKeeper.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "link/OsErrorText.h"
#include "programming/EepromCopy.h"

namespace {
std::string RecordProblem(const char* what, const std::string& path, int err) {
    return std::string("could not ") + what + " the pending eeprom record " + path + ": " +
           OsErrorText(err);
}

// A descriptor holding the lock, or -1 when another run holds it (or the file is gone).
int LockCopy(const std::string& path, int how) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    while (flock(fd, how | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        const int err = errno;
        ::close(fd);
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
    const int fd = LockCopy(path, LOCK_SH);
    if (fd < 0) return errno == EWOULDBLOCK;
    ::close(fd);
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
    if (CopyInUse >= 0) ::close(CopyInUse);
}

void EepromKeeper::Prepare() {
    if (CopyToWrite.empty()) return;
    Log("loading eeprom copy " + CopyToWrite);
    ChosenCopy = LoadEepromCopy(CopyToWrite);
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
    MarkGoingBack(link.Device.Name, outcome);
}

void EepromKeeper::SaveWhatWasRead(TIspLink& link, std::chrono::system_clock::time_point started,
                                   RunOutcome& outcome) {
    const std::string path =
        ClaimEepromCopyPath(DataFolder + "/eeprom", link.Device.Name, Port, started);
    Log("saving eeprom copy to " + path);
    SaveEepromCopy(path, link.EepromImage, static_cast<std::size_t>(link.Device.EepromSize));
    outcome.EepromSavedPath = outcome.EepromCopyPath = path;
}

void EepromKeeper::CheckPendingCopies(TIspLink& link, RunOutcome& outcome) {
    const std::string chip = link.Device.Name;
    const auto size = static_cast<std::size_t>(link.Device.EepromSize);
    const std::vector<PendingContent> pending = PendingOfChip(chip, size);
    const EepromVerdict v = JudgeEeprom(link.EepromImage, size, chip, pending);
    for (const PendingCopy& c : v.Settled) ToClear.push_back(c.Path);
    if (v.Decision == EepromVerdict::Restore)
        WriteBack(*Find(pending, v.Candidates[0].Path), link, outcome);
    else if (v.Decision == EepromVerdict::Ask)
        Decide(EepromQuestion{chip, v.DeviceBlank, v.Candidates}, pending, link, outcome);
}

std::vector<PendingContent> EepromKeeper::PendingOfChip(const std::string& chip, std::size_t size) {
    std::vector<PendingCopy> marks, idle;
    if (const int err = ReadPendingCopies(DataFolder, marks))
        Log(RecordProblem("read", PendingRecordPath(DataFolder), err));
    for (const PendingCopy& mark : marks)
        if (mark.Chip == chip && !EepromCopyInUse(mark.Path)) idle.push_back(mark);
    // A run clears its mark before it lets go of its copy: a mark still there now is no
    // longer part of a run under way.
    ReadPendingCopies(DataFolder, marks);
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
    CopyInUse = LockCopy(outcome.EepromCopyPath, LOCK_EX);
    if (CopyInUse < 0)
        throw EProgError(errBackupRead, "File: " + outcome.EepromCopyPath +
                                            " is being written back by another update");
    const PendingCopy mark{outcome.EepromCopyPath, chip, Port, std::chrono::system_clock::now()};
    if (const int err = ::MarkPending(DataFolder, mark))
        Log(RecordProblem("update", PendingRecordPath(DataFolder), err));
    ToClear.push_back(outcome.EepromCopyPath);
}

void EepromKeeper::WrittenBack() {
    if (const int err = ClearPending(DataFolder, ToClear))
        Log(RecordProblem("update", PendingRecordPath(DataFolder), err));
    ToClear.clear();
    ::close(CopyInUse);
    CopyInUse = -1;
}
