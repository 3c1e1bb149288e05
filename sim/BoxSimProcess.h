#pragma once
// q40prog-boxsim as a child process, for end-to-end tests and benchmarks: starts it,
// takes the port path from its first line, and stops it with SIGTERM.

#include <sys/types.h>

#include <string>
#include <vector>

class BoxSimProcess {
public:
    static constexpr int StartTimeoutMs = 10000;
    static constexpr int StopTimeoutMs = 10000;

    explicit BoxSimProcess(std::string program) : Program(std::move(program)) {}
    ~BoxSimProcess();
    BoxSimProcess(const BoxSimProcess&) = delete;
    BoxSimProcess& operator=(const BoxSimProcess&) = delete;

    // False with Error() set when it does not start or names no port in time.
    bool Start(const std::vector<std::string>& options, int timeoutMs = StartTimeoutMs);
    bool Running() const { return Pid > 0; }
    pid_t ProcessId() const { return Pid; }
    const std::string& PortPath() const { return Port; }
    const std::string& Error() const { return ErrorText; }

    // Asks it to stop and waits; its exit code, or -1 when it had to be killed or died
    // from a signal.
    int Stop(int timeoutMs = StopTimeoutMs);

private:
    bool ReadPortLine(int timeoutMs);
    bool WaitForEnd(int timeoutMs);
    int Reap();
    bool Fail(const std::string& text);

    std::string Program;
    pid_t Pid = -1;
    int Output = -1;  // its stdout; end of file when it has exited
    std::string Port;
    std::string ErrorText;
};
