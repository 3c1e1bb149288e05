#pragma once
// Another program holding the serial port: a child process that opens it and takes the
// same exclusive lock the updater takes, until it is told to go.

#include <sys/types.h>

#include <string>

class PortHolder {
public:
    ~PortHolder() { Release(); }
    // True once the child holds the lock.
    bool Hold(const std::string& path);
    void Release();

private:
    pid_t Pid = -1;
};
