#include "tests/faults/PortHolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>

#include "tests/faults/Spawn.h"

namespace {
// In the child: only async-signal-safe calls. Tells the parent by one byte, then waits.
[[noreturn]] void HoldInChild(const char* path, int ready) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    const char held = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? 1 : 0;
    if (::write(ready, &held, 1) != 1 || !held) _exit(1);
    for (;;) pause();
}
}  // namespace

bool PortHolder::Hold(const std::string& path) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return false;
    Pid = fork();
    if (Pid == 0) HoldInChild(path.c_str(), ready[1]);
    ::close(ready[1]);
    char held = 0;
    const bool ok = Pid > 0 && ::read(ready[0], &held, 1) == 1 && held == 1;
    ::close(ready[0]);
    return ok;
}

void PortHolder::Release() {
    if (Pid <= 0) return;
    kill(Pid, SIGKILL);
    Reap(Pid);
    Pid = -1;
}
