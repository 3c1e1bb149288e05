#pragma once
// The station's board on a terminal, for the operator at the bench: one block per socket with
// its port, the outcome of its last board in large coloured letters (PASS green, FAIL red with
// the failure's text and cause), which stays until the next board is put on; then what the
// board on it is doing, the socket's counts and yield; the station's totals; the last few
// events. A pure function of what it is given, so that the board's look is tested without a
// terminal.

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "cli/PortLine.h"

struct SocketCounts {
    int Done = 0;
    int Failed = 0;
    int TakenOff = 0;  // boards taken off before their update ended: no chip failures
};

// A socket's last board.
struct LastBoard {
    enum Kind { None, Pass, Fail, TakenOff };
    Kind Result = None;
    std::string Text;   // the failure's fixed text and detail
    std::string Cause;  // "target lost", ...
};

struct SocketView {
    std::string Port;
    std::string Chip;
    LastBoard Last;
    PortLineParts Now;  // the phase and progress of the board on it, or what it waits for
    SocketCounts Counts;
    bool Alarm = false;  // its last three boards failed
};

// Failures in a row on one socket that raise its alarm.
constexpr int AlarmAfterFailures = 3;
// Events kept below the board.
constexpr std::size_t StationEventsShown = 5;

// "ttyUSB3: 3 boards in a row failed: check the box, its cable and the adapter"
std::string AlarmText(const std::string& port);

// "12 done, 1 failed, 0 taken off, yield 92.3%": yield = done / (done + failed).
std::string SocketCountsText(const SocketCounts& c);

// The board's lines, each at most columns - 1 characters wide on screen (colours are escape
// sequences of no width).
std::vector<std::string> StationViewLines(const std::vector<SocketView>& sockets,
                                          const std::deque<std::string>& events, int columns);

// The characters a line takes on screen: without escape sequences, a UTF-8 character as one.
std::size_t ScreenWidth(const std::string& line);
