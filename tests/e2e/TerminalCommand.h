#pragma once
// A program on a terminal of its own, as a technician starts it in a shell or over SSH: the
// pseudo-terminal is its controlling terminal and stdin, stdout and stderr. The test reads
// the screen, types on the keyboard (Ctrl-C is "\x03": the terminal echoes "^C" and sends
// SIGINT) and can close the terminal as a dropped SSH session does (SIGHUP).

#include <sys/types.h>

#include <cstddef>

#include <string>
#include <vector>

#include "tests/e2e/CommandRun.h"

class TerminalCommand {
public:
    TerminalCommand() = default;
    ~TerminalCommand();
    TerminalCommand(const TerminalCommand&) = delete;
    TerminalCommand& operator=(const TerminalCommand&) = delete;

    bool Start(const std::vector<std::string>& argv, int columns = 80);
    // Reads the screen until 'text' shows; false when the time ran out or the terminal closed.
    bool WaitFor(const std::string& text, int timeoutMs = CommandTimeoutMs);
    // The same for 'text' shown after the first 'from' characters of the screen (the size of
    // Screen() before a step), so that a redrawn board's earlier look does not count.
    bool WaitForAfter(std::size_t from, const std::string& text, int timeoutMs = CommandTimeoutMs);
    void Type(const std::string& keys);
    // Closes the terminal's master side: the program's session hangs up.
    void HangUp();
    // Reads the rest (while the terminal is open), waits for the end (killing the program
    // after the time-out) and gives its exit code, -1 when it did not exit by itself.
    int Finish(int timeoutMs = CommandTimeoutMs);
    const std::string& Screen() const { return Shown; }

private:
    bool ReadSome(int timeoutMs);

    pid_t Pid = -1;
    int Master = -1;
    std::string Shown;
};
