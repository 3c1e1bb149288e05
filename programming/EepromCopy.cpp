#include "programming/EepromCopy.h"

#include "platform/SystemFiles.h"

#include <cerrno>
#include <cstdio>

#include "link/ProgError.h"
#include "programming/DataFolder.h"
#include "programming/PortFileName.h"
#include "programming/UniqueFile.h"

namespace {
EProgError CopyError(int32_t code, const std::string& path, int err) {
    return OsFailure(code, err, "File: " + path);
}

EProgError TooLarge(const std::string& path, long long size) {
    return EProgError(errBackupRead, "File: " + path + " holds " + std::to_string(size) +
                                         " bytes; an EEPROM copy has at most " +
                                         std::to_string(MaxEepromCopyBytes));
}

// Reads exactly 'size' bytes; a file that shrinks meanwhile is an error, not a short copy.
int ReadExactly(int fd, uint8_t* dest, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const long long n = sysfile::ReadSome(fd, dest + done, size - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n == 0)
            return EIO;
        else if (errno != EINTR)
            return errno;
    }
    return 0;
}
}  // namespace

std::string ClaimEepromCopyPath(const std::string& folder, const std::string& chip,
                                const std::string& port,
                                std::chrono::system_clock::time_point when) {
    if (const int err = MakeFolders(folder)) throw CopyError(errBackupWrite, folder, err);
    const std::string stem =
        folder + "/eeprom-" + chip + "-" + PortFileName(port) + "-" + FileTimeStamp(when);
    const FileResult claimed = ClaimUniqueFile(stem, ".bin");
    if (claimed.Error != 0) throw CopyError(errBackupWrite, claimed.Failed, claimed.Error);
    return claimed.Path;
}

void SaveEepromCopy(const std::string& path, const uint8_t* bytes, std::size_t size) {
    if (const int err = WriteFileDurably(path, bytes, size)) {
        sysfile::Remove(path);
        throw CopyError(errBackupWrite, path, err);
    }
}

std::vector<uint8_t> LoadEepromCopy(const std::string& path) {
    const int fd = sysfile::Open(path, sysfile::Read | sysfile::NonBlocking);
    if (fd < 0) throw CopyError(errBackupRead, path, errno);
    struct Closer {
        int Fd;
        ~Closer() { sysfile::Close(Fd); }
    } closer{fd};
    sysfile::Info st;
    if (sysfile::InfoOf(fd, st) != 0) throw CopyError(errBackupRead, path, errno);
    if (st.Type == sysfile::Kind::Folder) throw CopyError(errBackupRead, path, EISDIR);
    if (st.Type != sysfile::Kind::Regular)
        throw EProgError(errBackupRead, "File: " + path + " is not a regular file");
    if (static_cast<unsigned long long>(st.Size) > MaxEepromCopyBytes)
        throw TooLarge(path, static_cast<long long>(st.Size));
    std::vector<uint8_t> bytes(static_cast<std::size_t>(st.Size));
    if (const int err = ReadExactly(fd, bytes.data(), bytes.size()))
        throw CopyError(errBackupRead, path, err);
    return bytes;
}

std::string ChipOfEepromCopy(const std::string& copyPath) {
    const std::string name = copyPath.substr(copyPath.find_last_of('/') + 1);
    const std::string prefix = "eeprom-";
    if (name.rfind(prefix, 0) != 0) return {};
    const auto end = name.find('-', prefix.size());
    return end == std::string::npos ? std::string()
                                    : name.substr(prefix.size(), end - prefix.size());
}

void CheckCopyFits(const std::string& path, const std::vector<uint8_t>& copy,
                   const DeviceEntry& device) {
    const std::string named = ChipOfEepromCopy(path);
    if (!named.empty() && named != device.Name)
        throw EProgError(errBackupMismatch, "the copy is from an " + named +
                                                ", the connected chip is an " + device.Name);
    if (copy.size() != static_cast<std::size_t>(device.EepromSize))
        throw EProgError(errBackupMismatch, "the copy holds " + std::to_string(copy.size()) +
                                                " bytes, the " + device.Name + " has " +
                                                std::to_string(device.EepromSize));
}
