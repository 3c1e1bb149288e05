#include "tests/e2e/TerminalCommand.h"

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "sim/PtyServer.h"

namespace {
int LeftMs(int64_t deadlineNs) {
    const int64_t left = (deadlineNs - MonotonicNs()) / wire::NsPerMs;
    return left > 0 ? static_cast<int>(left) : 0;
}
}  // namespace

TerminalCommand::~TerminalCommand() {
    HangUp();
    if (Pid > 0) {
        kill(Pid, SIGKILL);
        waitpid(Pid, nullptr, 0);
    }
}

bool TerminalCommand::Start(const std::vector<std::string>& args, int columns) {
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    winsize size{};
    size.ws_row = 24;
    size.ws_col = static_cast<unsigned short>(columns);
    // The child is a session leader with the terminal as its controlling one.
    Pid = forkpty(&Master, nullptr, nullptr, &size);
    if (Pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    return Pid > 0;
}

// False once the terminal has closed or the time is up.
bool TerminalCommand::ReadSome(int timeoutMs) {
    if (Master < 0) return false;
    pollfd fd{Master, POLLIN, 0};
    const int n = poll(&fd, 1, timeoutMs);
    if (n < 0) return errno == EINTR;
    if (n == 0) return false;
    char buffer[4096];
    const ssize_t got = read(Master, buffer, sizeof buffer);
    if (got > 0) {
        Shown.append(buffer, static_cast<std::size_t>(got));
        return true;
    }
    return got < 0 && errno == EINTR;  // EIO: the program has gone and the terminal with it
}

bool TerminalCommand::WaitFor(const std::string& text, int timeoutMs) {
    return WaitForAfter(0, text, timeoutMs);
}

bool TerminalCommand::WaitForAfter(std::size_t from, const std::string& text, int timeoutMs) {
    const int64_t deadline = MonotonicNs() + int64_t{timeoutMs} * wire::NsPerMs;
    while (Shown.find(text, from) == std::string::npos)
        if (LeftMs(deadline) == 0 || !ReadSome(LeftMs(deadline))) break;
    return Shown.find(text, from) != std::string::npos;
}

void TerminalCommand::Type(const std::string& keys) {
    if (Master >= 0 && write(Master, keys.data(), keys.size()) < 0) HangUp();
}

void TerminalCommand::HangUp() {
    if (Master >= 0) close(Master);
    Master = -1;
}

int TerminalCommand::Finish(int timeoutMs) {
    const int64_t deadline = MonotonicNs() + int64_t{timeoutMs} * wire::NsPerMs;
    while (LeftMs(deadline) > 0 && ReadSome(LeftMs(deadline))) {
    }
    int status = 0;
    bool ended = false;
    while (!ended && Pid > 0) {
        const pid_t r = waitpid(Pid, &status, WNOHANG);
        if (r == Pid) {
            ended = true;
        } else if (r < 0 && errno != EINTR) {
            break;
        } else if (LeftMs(deadline) == 0) {
            kill(Pid, SIGKILL);
            waitpid(Pid, &status, 0);
            break;
        } else {
            usleep(10000);
        }
    }
    Pid = -1;
    HangUp();
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
