#include "link/ProcessTable.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {
bool IsNumber(const char* s) {
    if (!*s) return false;
    for (; *s; ++s)
        if (*s < '0' || *s > '9') return false;
    return true;
}

std::string LinkTarget(const std::string& path) {
    char buf[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

// Whether the process has 'device' open; false with 'seen' cleared when its files are hidden.
bool HasOpen(const std::string& fdFolder, const std::string& device, bool& seen) {
    DIR* dir = opendir(fdFolder.c_str());
    if (!dir) {
        seen = false;
        return false;
    }
    bool found = false;
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        if (LinkTarget(fdFolder + "/" + e->d_name) == device) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

// "08:02:1234" -> major, minor (hex), inode (decimal).
bool ParseFileId(const std::string& text, unsigned& major, unsigned& minor, unsigned long& inode) {
    char* end = nullptr;
    major = static_cast<unsigned>(std::strtoul(text.c_str(), &end, 16));
    if (*end != ':') return false;
    minor = static_cast<unsigned>(std::strtoul(end + 1, &end, 16));
    if (*end != ':') return false;
    inode = std::strtoul(end + 1, &end, 10);
    return *end == '\0';
}
}  // namespace

std::string ProcessText(const ProcessRef& p) {
    return (p.Name.empty() ? std::string("a process") : p.Name) + " (pid " + std::to_string(p.Pid) +
           ")";
}

std::vector<int> ProcessIds(const std::string& proc) {
    std::vector<int> pids;
    DIR* dir = opendir(proc.c_str());
    if (!dir) return pids;
    while (const dirent* e = readdir(dir))
        if (IsNumber(e->d_name)) pids.push_back(std::atoi(e->d_name));
    closedir(dir);
    std::sort(pids.begin(), pids.end());
    return pids;
}

std::string ProcessName(const std::string& proc, int pid) {
    std::ifstream in(proc + "/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

std::vector<ProcessRef> ProcessesNamed(const std::string& proc, const std::string& name) {
    std::vector<ProcessRef> found;
    for (int pid : ProcessIds(proc))
        if (ProcessName(proc, pid) == name) found.push_back({pid, name});
    return found;
}

OpenFileScan ProcessesWithOpen(const std::string& proc, const std::string& device, int skipPid) {
    OpenFileScan scan;
    for (int pid : ProcessIds(proc)) {
        if (pid == skipPid) continue;
        if (HasOpen(proc + "/" + std::to_string(pid) + "/fd", device, scan.AllSeen))
            scan.Holders.push_back({pid, ProcessName(proc, pid)});
    }
    return scan;
}

// Lines such as "1: FLOCK  ADVISORY  WRITE 4242 00:05:1234 0 EOF"; waiting locks have "->".
std::vector<int> LockHolders(const std::string& locksFile, unsigned major, unsigned minor,
                             unsigned long inode, int skipPid) {
    std::vector<int> pids;
    std::ifstream in(locksFile);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, kind, mode, access, pid, file;
        fields >> id >> kind;
        if (kind == "->") continue;
        fields >> mode >> access >> pid >> file;
        unsigned ma = 0, mi = 0;
        unsigned long ino = 0;
        if (!ParseFileId(file, ma, mi, ino) || ma != major || mi != minor || ino != inode) continue;
        const int p = std::atoi(pid.c_str());
        if (p > 0 && p != skipPid && std::find(pids.begin(), pids.end(), p) == pids.end())
            pids.push_back(p);
    }
    return pids;
}
