#include "link/PortList.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {
std::string LinkTarget(const std::string& path) {
    char buf[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return {};
    buf[n] = '\0';
    return buf;
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The legacy 8250 driver registers ports that have no UART behind them; ask the port.
bool IsRealLegacyPort(const std::string& name) {
    const int fd = ::open(("/dev/" + name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    serial_struct ss{};
    const bool real = ioctl(fd, TIOCGSERIAL, &ss) == 0 && ss.type != PORT_UNKNOWN;
    ::close(fd);
    return real;
}

bool HasDevice(const std::string& root, const std::string& name) {
    const std::string dev = root + "/" + name + "/device";
    if (access(dev.c_str(), F_OK) != 0) return false;
    const std::string driver = BaseName(LinkTarget(dev + "/driver"));
    if (driver == "serial8250") return IsRealLegacyPort(name);
    return true;
}

std::pair<std::string, long> SplitNumber(const std::string& s) {
    std::size_t i = s.size();
    while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') --i;
    const long n = i < s.size() ? std::strtol(s.c_str() + i, nullptr, 10) : -1;
    return {s.substr(0, i), n};
}
}  // namespace

bool PortNameLess(const std::string& a, const std::string& b) {
    return SplitNumber(a) < SplitNumber(b);
}

std::vector<std::string> EnumerateSerialPorts(const std::string& sysClassTty) {
    std::vector<std::string> ports;
    DIR* dir = opendir(sysClassTty.c_str());
    if (!dir) return ports;
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name[0] == '.') continue;
        if (HasDevice(sysClassTty, name)) ports.push_back(name);
    }
    closedir(dir);
    std::sort(ports.begin(), ports.end(), PortNameLess);
    return ports;
}

std::vector<std::string> EnumerateSerialPorts() {
    return EnumerateSerialPorts("/sys/class/tty");
}
