#include "tests/e2e/CommandRun.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "sim/PtyServer.h"

namespace {
[[noreturn]] void ExecChild(int out, int err, const std::vector<char*>& argv) {
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
}

// Reads both pipes until both reach end of file or the deadline passes.
bool Collect(int out, int err, CommandResult& r, int64_t deadlineNs) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string* sinks[2] = {&r.Out, &r.Err};
    int open = 2;
    while (open > 0) {
        const int64_t leftMs = (deadlineNs - MonotonicNs()) / wire::NsPerMs;
        if (leftMs <= 0) return false;
        if (poll(fds, 2, static_cast<int>(leftMs)) < 0 && errno != EINTR) return false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    return true;
}
}  // namespace

CommandResult RunCommand(const std::vector<std::string>& args, int timeoutMs) {
    CommandResult r;
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return r;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return r;
    }
    const int64_t start = MonotonicNs();
    const pid_t pid = fork();
    if (pid == 0) ExecChild(out[1], err[1], argv);
    close(out[1]);
    close(err[1]);
    const bool finished =
        pid > 0 && Collect(out[0], err[0], r, start + int64_t{timeoutMs} * wire::NsPerMs);
    close(out[0]);
    close(err[0]);
    if (pid < 0) return r;
    if (!finished) kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    r.Seconds = static_cast<double>(MonotonicNs() - start) / wire::NsPerSecond;
    r.ExitCode = finished && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}
