#include "sim/BoxSimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "sim/PtyServer.h"

namespace {
constexpr int ExecFailedExit = 127;

int RemainingMs(int64_t deadlineNs) {
    const int64_t left = (deadlineNs - MonotonicNs()) / wire::NsPerMs;
    return left > 0 ? static_cast<int>(left) : 0;
}

// In the child between fork and exec: stdout to the pipe, and die with the parent so a
// crashed test leaves no simulator behind.
[[noreturn]] void ExecChild(int pipeWrite, const std::vector<char*>& argv) {
    dup2(pipeWrite, STDOUT_FILENO);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    execv(argv[0], argv.data());
    _exit(ExecFailedExit);
}
}  // namespace

BoxSimProcess::~BoxSimProcess() {
    if (Running()) Stop();
}

bool BoxSimProcess::Fail(const std::string& text) {
    ErrorText = text;
    return false;
}

bool BoxSimProcess::Start(const std::vector<std::string>& options, int timeoutMs) {
    if (Running()) return Fail("already running");
    std::vector<std::string> args{Program};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return Fail(std::string("pipe: ") + std::strerror(errno));
    Pid = fork();
    if (Pid == 0) ExecChild(pipeFds[1], argv);
    ::close(pipeFds[1]);
    if (Pid < 0) {
        ::close(pipeFds[0]);
        return Fail(std::string("fork: ") + std::strerror(errno));
    }
    Output = pipeFds[0];
    if (ReadPortLine(timeoutMs)) return true;
    const std::string why = ErrorText;
    const int code = Stop(0);
    return Fail(why + " (exit code " + std::to_string(code) + ")");
}

bool BoxSimProcess::ReadPortLine(int timeoutMs) {
    const int64_t deadline = MonotonicNs() + int64_t{timeoutMs} * wire::NsPerMs;
    Port.clear();
    for (;;) {
        pollfd pfd{Output, POLLIN, 0};
        const int n = poll(&pfd, 1, RemainingMs(deadline));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Fail(Program + " named no port in time");
        char c = 0;
        const ssize_t got = ::read(Output, &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return Fail(Program + " ended before it named its port");
        if (c == '\n') return !Port.empty() || Fail(Program + " printed an empty line");
        Port += c;
    }
}

// The pipe reaches end of file when the simulator has exited.
bool BoxSimProcess::WaitForEnd(int timeoutMs) {
    const int64_t deadline = MonotonicNs() + int64_t{timeoutMs} * wire::NsPerMs;
    char sink[256];
    for (;;) {
        pollfd pfd{Output, POLLIN, 0};
        const int n = poll(&pfd, 1, RemainingMs(deadline));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        const ssize_t got = ::read(Output, sink, sizeof sink);
        if (got == 0 || (got < 0 && errno != EINTR)) return true;
    }
}

int BoxSimProcess::Stop(int timeoutMs) {
    if (!Running()) return -1;
    kill(Pid, SIGTERM);
    if (!WaitForEnd(timeoutMs)) kill(Pid, SIGKILL);
    return Reap();
}

int BoxSimProcess::Reap() {
    int status = 0;
    while (waitpid(Pid, &status, 0) < 0 && errno == EINTR) {
    }
    Pid = -1;
    ::close(Output);
    Output = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
