#pragma once
// One q40prog-cli process with every output line stamped with the moment it arrived, so
// the matrix can act on a line (kill the box) and time how long a failure took.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

struct TimedLine {
    double At;  // NowSeconds() when the line arrived
    bool FromStderr;
    std::string Text;
};

struct CliResult {
    int ExitCode = -1;  // -1 when a signal ended it or it overran
    double Started = 0, Ended = 0;
    std::vector<TimedLine> Lines;

    // The first stdout line starting with 'prefix', or nullptr.
    const TimedLine* Find(const std::string& prefix) const;
    // Stdout lines only, in order.
    std::vector<std::string> Log() const;
};

// Sees every line as it arrives; the matrix kills the box from here.
using LineWatcher = std::function<void(const TimedLine&)>;

class CliRun {
public:
    static constexpr int TimeoutMs = 90000;

    // Starts the program with these arguments and extra environment entries.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env);
    // Reads its output to the end and reaps it.
    CliResult Finish(const LineWatcher& watch = {});

private:
    bool Drain(int index, const LineWatcher& watch);

    pid_t Pid = -1;
    int Fds[2] = {-1, -1};
    std::string Partial[2];
    CliResult Result;
};
