#pragma once
// What /proc tells about other processes: their names, the files they hold open and the
// file locks they own. Every function takes the /proc folder, so tests can hand in a fake.

#include <string>
#include <vector>

struct ProcessRef {
    int Pid = 0;
    std::string Name;  // as in /proc/PID/comm
};

// "minicom (pid 4242)"
std::string ProcessText(const ProcessRef& p);

std::vector<int> ProcessIds(const std::string& proc);
std::string ProcessName(const std::string& proc, int pid);
std::vector<ProcessRef> ProcessesNamed(const std::string& proc, const std::string& name);

struct OpenFileScan {
    std::vector<ProcessRef> Holders;
    bool AllSeen = true;  // false when some processes' open files were hidden from us
};
// Processes other than skipPid with 'device' open (the path as /proc/PID/fd links show it).
OpenFileScan ProcessesWithOpen(const std::string& proc, const std::string& device, int skipPid);

// Processes other than skipPid owning a flock() or POSIX lock on the file with this
// filesystem device and inode, from the lock table (/proc/locks), which every user may read.
std::vector<int> LockHolders(const std::string& locksFile, unsigned major, unsigned minor,
                             unsigned long inode, int skipPid);
