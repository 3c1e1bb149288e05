#include "tests/faults/Spawn.h"

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>

namespace {
constexpr int ExecFailedExit = 127;

// Between fork and exec only async-signal-safe calls.
[[noreturn]] void ExecChild(char* const* argv, char* const* envp, int outFd, int errFd) {
    if (outFd >= 0) dup2(outFd, STDOUT_FILENO);
    if (errFd >= 0) dup2(errFd, STDERR_FILENO);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    execve(argv[0], argv, envp);
    _exit(ExecFailedExit);
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> p;
    for (std::string& t : texts) p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}
}  // namespace

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
            int outFd, int errFd) {
    std::vector<std::string> args = argv;
    // The first of two equal names wins in getenv(), so an overridden name must go.
    std::vector<std::string> env = extraEnv;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool overridden = false;
        for (const std::string& x : extraEnv) overridden = overridden || x.rfind(name, 0) == 0;
        if (!overridden) env.push_back(entry);
    }
    const std::vector<char*> argp = Pointers(args);
    const std::vector<char*> envp = Pointers(env);
    const pid_t pid = fork();
    if (pid == 0) ExecChild(argp.data(), envp.data(), outFd, errFd);
    return pid;
}

int Reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double NowSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}
