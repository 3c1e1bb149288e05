#pragma once
// One port's line among several updates on a terminal: port, chip, the counts of a station,
// then the progress of its transfer or what it is doing, never wider than the terminal.
// Narrow terminals lose the bar and the phase text first, as a single run's line does; a
// long port name keeps its end, which tells ports apart. A text (what the port does, how its
// update ended) is never cut inside a word: the port name gives way first, then whole words
// give way to "...".

#include <string>

#include "cli/ProgressLine.h"

constexpr std::size_t ChipColumnWidth = 10;  // the longest chip name

struct PortLineParts {
    std::string Port;
    std::string Chip;
    std::string Counts;       // "3 done, 1 failed" in a station; empty otherwise
    bool InTransfer = false;  // Progress holds the transfer; else Text says what goes on
    ProgressLineParts Progress;
    std::string Text;
};

// At most columns - 1 characters. 'portWidth': the column the port names share.
std::string FitPortLine(const PortLineParts& parts, std::size_t portWidth, int columns);

// The name cut to 'width' characters, keeping its end after "..".
std::string PortColumn(const std::string& port, std::size_t width);
