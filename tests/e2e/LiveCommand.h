#pragma once
// A program whose output the test reads as it comes, so that it can act on a line: send a
// signal, or close the pipes the way a reader that has seen enough does (grep -m1).

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/e2e/CommandRun.h"

class LiveCommand {
public:
    LiveCommand() = default;
    ~LiveCommand();
    LiveCommand(const LiveCommand&) = delete;
    LiveCommand& operator=(const LiveCommand&) = delete;

    // 'closed': descriptors the program starts without (">&-"), among 1 and 2.
    bool Start(const std::vector<std::string>& argv, const std::vector<int>& closed = {});
    // Reads until a complete line starting with 'prefix' has come on stdout or stderr;
    // false when the program closed its output or the time ran out first.
    bool WaitForLine(const std::string& prefix, int timeoutMs = CommandTimeoutMs);
    // The same until 'count' such lines have come.
    bool WaitForLines(const std::string& prefix, std::size_t count,
                      int timeoutMs = CommandTimeoutMs);
    // Complete lines starting with 'prefix' so far, on stdout and stderr.
    std::size_t CountLines(const std::string& prefix) const;
    // Reads whatever output is there, without waiting.
    void TakeWhatHasCome();
    // What has come so far.
    const CommandResult& SoFar() const { return Result; }
    void Signal(int signal);
    // Closes the reading ends of both pipes; later output of the program goes nowhere.
    void CloseOutput();
    // Reads the rest, waits for the end (killing it after the time-out) and reaps it.
    CommandResult Finish(int timeoutMs = CommandTimeoutMs);

private:
    bool ReadSome(int timeoutMs);
    bool HasLine(const std::string& prefix) const;

    pid_t Pid = -1;
    int Fds[2] = {-1, -1};
    CommandResult Result;
};
