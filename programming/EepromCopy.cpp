#include "programming/EepromCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
        const ssize_t n = ::read(fd, dest + done, size - done);
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
        std::remove(path.c_str());
        throw CopyError(errBackupWrite, path, err);
    }
}

std::vector<uint8_t> LoadEepromCopy(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) throw CopyError(errBackupRead, path, errno);
    struct Closer {
        int Fd;
        ~Closer() { ::close(Fd); }
    } closer{fd};
    struct stat st {};
    if (fstat(fd, &st) != 0) throw CopyError(errBackupRead, path, errno);
    if (S_ISDIR(st.st_mode)) throw CopyError(errBackupRead, path, EISDIR);
    if (!S_ISREG(st.st_mode))
        throw EProgError(errBackupRead, "File: " + path + " is not a regular file");
    if (static_cast<unsigned long long>(st.st_size) > MaxEepromCopyBytes)
        throw TooLarge(path, static_cast<long long>(st.st_size));
    std::vector<uint8_t> bytes(static_cast<std::size_t>(st.st_size));
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
