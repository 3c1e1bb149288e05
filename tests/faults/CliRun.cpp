#include "tests/faults/CliRun.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "tests/faults/Spawn.h"

const TimedLine* CliResult::Find(const std::string& prefix) const {
    for (const TimedLine& l : Lines)
        if (!l.FromStderr && l.Text.rfind(prefix, 0) == 0) return &l;
    return nullptr;
}

std::vector<std::string> CliResult::Log() const {
    std::vector<std::string> log;
    for (const TimedLine& l : Lines)
        if (!l.FromStderr) log.push_back(l.Text);
    return log;
}

bool CliRun::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    if (pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return false;
    }
    Result.Started = NowSeconds();
    Pid = Spawn(argv, env, out[1], err[1]);
    ::close(out[1]);
    ::close(err[1]);
    Fds[0] = out[0];
    Fds[1] = err[0];
    return Pid > 0;
}

// False at end of file.
bool CliRun::Drain(int index, const LineWatcher& watch) {
    char buf[4096];
    const ssize_t n = ::read(Fds[index], buf, sizeof buf);
    if (n < 0 && errno == EINTR) return true;
    if (n <= 0) return false;
    const double at = NowSeconds();
    std::string& partial = Partial[index];
    partial.append(buf, static_cast<std::size_t>(n));
    for (std::size_t end; (end = partial.find('\n')) != std::string::npos;) {
        Result.Lines.push_back({at, index == 1, partial.substr(0, end)});
        partial.erase(0, end + 1);
        if (watch) watch(Result.Lines.back());
    }
    return true;
}

CliResult CliRun::Finish(const LineWatcher& watch) {
    const double deadline = Result.Started + TimeoutMs / 1000.0;
    int open = 2;
    bool overran = false;
    while (open > 0 && Pid > 0) {
        const int leftMs = static_cast<int>((deadline - NowSeconds()) * 1000);
        if (leftMs <= 0) {
            overran = true;
            kill(Pid, SIGKILL);
            break;
        }
        pollfd fds[2] = {{Fds[0], POLLIN, 0}, {Fds[1], POLLIN, 0}};
        if (poll(fds, 2, leftMs) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (Fds[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            if (Drain(i, watch)) continue;
            ::close(Fds[i]);
            Fds[i] = -1;
            --open;
        }
    }
    for (int& fd : Fds)
        if (fd >= 0) ::close(fd), fd = -1;
    const int code = Pid > 0 ? Reap(Pid) : -1;
    Result.ExitCode = overran ? -1 : code;
    Result.Ended = NowSeconds();
    Pid = -1;
    return Result;
}
