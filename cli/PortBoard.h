#pragma once
// Several updates on one screen. Each port's log lines go to stdout, prefixed with the port.
// On a terminal, stderr shows one line per port below them (port, chip, phase, percent,
// remaining time; in a station also its counts and the station's total), redrawn in place and
// fitted to the width; otherwise progress and what a port waits for come as plain lines on
// stderr, prefixed with the port. The runs report from their own threads; only the thread in
// Show writes to the screen, so nothing written is ever cut into by another run's line.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/PortLine.h"
#include "cli/StationView.h"
#include "cli/TerminalWidth.h"
#include "programming/RunReport.h"

class StopSignals;

struct UpdateCounts {
    int Done = 0;
    int Failed = 0;
    int TakenOff = 0;  // a station's boards taken off before their update ended
};

// "done." or "FAILED: " with the failure's text, as a sentence.
std::string OutcomeSentence(const RunOutcome& outcome);

class PortBoard {
public:
    // 'notice' and 'again' are said at the first and at every later stop signal (with a
    // trailing newline). 'station': counts on every line, a line with the total, and a bell
    // at every outcome.
    PortBoard(const std::vector<std::string>& ports, const StopSignals& stop, std::string notice,
              std::string again, bool station);

    // From the runs' threads; 'port' is the index into the ports given.
    void Log(std::size_t port, const std::string& line);
    // Several lines in one text, each a log line.
    void LogLines(std::size_t port, const std::string& text);
    void Warn(std::size_t port, const std::string& text);
    void Chip(std::size_t port, const std::string& name);
    // A station's next board answered with its chip.
    void PutOn(std::size_t port, const std::string& chip);
    void Progress(std::size_t port, int32_t position, int32_t total, int32_t phase);
    // The port's stop waits for its EEPROM to be back: its progress says so until it ends.
    void StopPending(std::size_t port);
    // What the port does between updates ("waiting for a board").
    void State(std::size_t port, const std::string& text);
    // An update's end: counted, and in a station told with its counts (and a bell). The
    // port's line shows "done." or "FAILED: " and the failure's text.
    void Finished(std::size_t port, const RunOutcome& outcome);
    // The port's thread has no more to say.
    void PortDone(std::size_t port);

    // On the main thread: shows what the runs report until every port is done.
    void Show();

    // A station on a terminal shows its operator's board (StationView) and keeps the runs'
    // log lines, which are in the log files, off the screen unless 'verbose'.
    void ShowLogLines(bool verbose);
    // A station's question for a board's serial, shown until Answered (or as a line of its
    // own without a terminal).
    void Ask(std::size_t port, const std::string& question);
    void Answered(std::size_t port);

    UpdateCounts CountsOf(std::size_t port) const;
    UpdateCounts Total() const;

private:
    struct PortState {
        std::string Name;
        std::string Chip;
        std::string Text;
        bool InTransfer = false;
        int32_t Phase = -1;
        int32_t Position = 0, Total = 0;
        std::chrono::steady_clock::time_point PhaseStart;
        int LastTenth = -1;
        bool StopWaits = false;
        UpdateCounts Counts;
        bool Done = false;
        LastBoard Last;  // a station's last board on this socket
        int FailedInARow = 0;
        std::string Question;  // a serial asked for
    };
    struct Output {
        bool ToStderr;
        std::string Text;  // whole lines
    };

    void Say(bool toStderr, std::string text);  // with Mutex held
    std::string CountsText(const UpdateCounts& c) const;
    std::vector<std::string> BoardLines();  // with Mutex held
    bool AllDone() const;
    void SayStopNotices(std::vector<Output>& out);
    void Write(const std::vector<Output>& out, const std::vector<std::string>& board, int bells);
    std::string EraseBoard();  // what takes the board off the screen

    mutable std::mutex Mutex;
    std::condition_variable Wake;
    std::vector<PortState> Ports;
    std::size_t PortWidth = 0;
    std::deque<Output> Pending;
    int Bells = 0;

    const StopSignals& Stop;
    const std::string Notice, Again;
    const bool Station;
    int StopsSaid = 0;
    std::optional<TerminalWidth> Width;  // only when stderr is a terminal
    std::vector<std::size_t> Drawn;      // lengths of the board's lines on screen
    std::vector<std::string> OnScreen;   // the board as drawn last
    bool LogLinesShown = true;
    std::deque<std::string> Events;  // a station's last few, for its board

    bool OperatorView() const { return Station && Width.has_value(); }
    void Event(const std::string& text);                         // with Mutex held
    void CountOutcome(PortState& s, const RunOutcome& outcome);  // with Mutex held
    std::vector<std::string> StationLines();                     // with Mutex held
};
