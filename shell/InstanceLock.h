#pragma once
// The running copy's claim on the desktop: an open-file lock on a file beside its endpoint,
// held for as long as the copy lives. The kernel drops it when the copy ends, however it ends,
// so a copy that is busy or stopped keeps it and a dead one never does.

#include <string>

// The lock file of an endpoint: the endpoint's path with ".lock" appended.
std::string InstanceLockPath(const std::string& endpointPath);

class InstanceLock {
public:
    enum class State {
        Acquired,       // this process is the running copy
        HeldByAnother,  // another copy runs
        Unavailable,    // the lock file cannot be used (Problem() tells why)
    };

    // Tries to take the lock without waiting.
    explicit InstanceLock(std::string path);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    State Result() const { return Outcome; }
    const std::string& Problem() const { return Why; }

    // True when some process holds the lock at path; takes nothing.
    static bool HeldAt(const std::string& path);

private:
    std::string Path;
    int Fd = -1;
    State Outcome = State::Unavailable;
    std::string Why;
};
