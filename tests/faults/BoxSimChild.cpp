#include "tests/faults/BoxSimChild.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "tests/faults/Spawn.h"

BoxSimChild::~BoxSimChild() {
    if (Running()) Kill();
}

bool BoxSimChild::Start(const std::vector<std::string>& options) {
    std::vector<std::string> argv{Program};
    argv.insert(argv.end(), options.begin(), options.end());
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        ErrorText = "pipe failed";
        return false;
    }
    Pid = Spawn(argv, {}, pipeFds[1], -1);
    ::close(pipeFds[1]);
    Output = pipeFds[0];
    if (Pid < 0) {
        ErrorText = "fork failed";
        ::close(Output);
        Output = -1;
        return false;
    }
    if (ReadPortLine()) return true;
    Kill();
    return false;
}

bool BoxSimChild::ReadPortLine() {
    const double deadline = NowSeconds() + StartTimeoutMs / 1000.0;
    Port.clear();
    for (;;) {
        const int leftMs = static_cast<int>((deadline - NowSeconds()) * 1000);
        pollfd pfd{Output, POLLIN, 0};
        const int n = leftMs > 0 ? poll(&pfd, 1, leftMs) : 0;
        if (n < 0 && errno == EINTR) continue;
        char c = 0;
        if (n <= 0 || ::read(Output, &c, 1) != 1) {
            ErrorText = Program + " named no port";
            return false;
        }
        if (c == '\n') return !Port.empty();
        Port += c;
    }
}

void BoxSimChild::Kill() {
    if (!Running()) return;
    kill(Pid, SIGKILL);
    Finish();
}

int BoxSimChild::Stop() {
    if (!Running()) return -1;
    kill(Pid, SIGTERM);
    return Finish();
}

int BoxSimChild::Finish() {
    const int code = Reap(Pid);
    Pid = -1;
    ::close(Output);
    Output = -1;
    return code;
}
