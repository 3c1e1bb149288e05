#include "programming/EepromCopy.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "link/ProgError.h"
#include "programming/DataFolder.h"

namespace {
// "/dev/serial/by-id/usb-FTDI" -> "usb-FTDI": file-name safe, still recognisable.
std::string PortForFileName(const std::string& port) {
    std::string name =
        port.rfind("/dev/", 0) == 0 ? port.substr(5) : port.substr(port.find_last_of('/') + 1);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
    return name.empty() ? "port" : name;
}

EProgError CopyError(int32_t code, const std::string& path, int err) {
    EProgError e(code, "File: " + path + ": " + std::strerror(err));
    e.OsError = static_cast<uint32_t>(err);
    return e;
}
}  // namespace

std::string EepromCopyPath(const std::string& folder, const std::string& chip,
                           const std::string& port, std::chrono::system_clock::time_point when) {
    const std::string stem =
        folder + "/eeprom-" + chip + "-" + PortForFileName(port) + "-" + FileTimeStamp(when);
    return UnusedPath(stem, ".bin");
}

void SaveEepromCopy(const std::string& path, const uint8_t* bytes, std::size_t size) {
    const std::string folder = path.substr(0, path.find_last_of('/'));
    if (!MakeFolders(folder)) throw CopyError(errBackupWrite, folder, errno ? errno : ENOTDIR);
    if (const int err = WriteFileDurably(path, bytes, size))
        throw CopyError(errBackupWrite, path, err);
}

std::vector<uint8_t> LoadEepromCopy(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) throw CopyError(errFileOpen, path, errno);
    if (!S_ISREG(st.st_mode)) throw CopyError(errFileOpen, path, EISDIR);
    std::ifstream in(path, std::ios::binary);
    if (!in) throw CopyError(errFileOpen, path, errno ? errno : EACCES);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad()) throw CopyError(errFileOpen, path, EIO);
    return bytes;
}
