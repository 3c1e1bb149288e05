#pragma once
// Starting and reaping the programs the fault matrix drives.

#include <sys/types.h>

#include <string>
#include <vector>

// Runs argv[0] with the caller's environment plus 'extraEnv' ("NAME=value"), its stdout
// and stderr on the given descriptors (-1: inherited). The child dies with the parent, so
// a crashed matrix leaves no simulator behind. -1 when fork fails.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
            int outFd, int errFd);

// Waits for the child; its exit code, or -1 when a signal ended it.
int Reap(pid_t pid);

// Monotonic seconds, for the timings of the rows.
double NowSeconds();
