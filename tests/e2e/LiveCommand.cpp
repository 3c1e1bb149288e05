#include "tests/e2e/LiveCommand.h"

#include <fcntl.h>
#include <poll.h>
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

LiveCommand::~LiveCommand() {
    CloseOutput();
    if (Pid > 0) {
        kill(Pid, SIGKILL);
        waitpid(Pid, nullptr, 0);
    }
}

bool LiveCommand::Start(const std::vector<std::string>& args, const std::vector<int>& closed) {
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return false;
    }
    Pid = fork();
    if (Pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (const int fd : closed) close(fd);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    Fds[0] = out[0];
    Fds[1] = err[0];
    return Pid > 0;
}

// False once both pipes are closed or the time is up.
bool LiveCommand::ReadSome(int timeoutMs) {
    pollfd fds[2] = {{Fds[0], POLLIN, 0}, {Fds[1], POLLIN, 0}};
    if (Fds[0] < 0 && Fds[1] < 0) return false;
    const int n = poll(fds, 2, timeoutMs);
    if (n < 0) return errno == EINTR;
    if (n == 0) return false;
    std::string* sinks[2] = {&Result.Out, &Result.Err};
    for (int i = 0; i < 2; ++i) {
        if (Fds[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        char buf[4096];
        const ssize_t got = read(Fds[i], buf, sizeof buf);
        if (got > 0) {
            sinks[i]->append(buf, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            close(Fds[i]);
            Fds[i] = -1;
        }
    }
    return true;
}

bool LiveCommand::HasLine(const std::string& prefix) const {
    return CountLines(prefix) > 0;
}

std::size_t LiveCommand::CountLines(const std::string& prefix) const {
    std::size_t count = 0;
    for (const std::string* text : {&Result.Out, &Result.Err}) {
        for (std::size_t start = 0; start < text->size();) {
            const std::size_t end = text->find('\n', start);
            if (end == std::string::npos) break;
            if (text->compare(start, prefix.size(), prefix) == 0) ++count;
            start = end + 1;
        }
    }
    return count;
}

bool LiveCommand::WaitForLines(const std::string& prefix, std::size_t count, int timeoutMs) {
    const int64_t deadline = MonotonicNs() + int64_t{timeoutMs} * wire::NsPerMs;
    while (CountLines(prefix) < count)
        if (LeftMs(deadline) == 0 || !ReadSome(LeftMs(deadline)))
            return CountLines(prefix) >= count;
    return true;
}

bool LiveCommand::WaitForLine(const std::string& prefix, int timeoutMs) {
    const int64_t deadline = MonotonicNs() + int64_t{timeoutMs} * wire::NsPerMs;
    while (!HasLine(prefix))
        if (LeftMs(deadline) == 0 || !ReadSome(LeftMs(deadline))) return HasLine(prefix);
    return true;
}

void LiveCommand::TakeWhatHasCome() {
    while (ReadSome(0)) {
    }
}

void LiveCommand::Signal(int signal) {
    if (Pid > 0) kill(Pid, signal);
}

void LiveCommand::CloseOutput() {
    for (int& fd : Fds)
        if (fd >= 0) close(fd), fd = -1;
}

CommandResult LiveCommand::Finish(int timeoutMs) {
    const int64_t deadline = MonotonicNs() + int64_t{timeoutMs} * wire::NsPerMs;
    while (LeftMs(deadline) > 0 && ReadSome(LeftMs(deadline))) {
    }
    // With its output closed the program's end shows only in waitpid.
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
    CloseOutput();
    Result.ExitCode = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return Result;
}
