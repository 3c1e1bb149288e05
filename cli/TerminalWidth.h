#pragma once
// The width of the terminal behind a descriptor, read again after every resize (SIGWINCH).

class TerminalWidth {
public:
    static constexpr int Fallback = 80;  // when the terminal does not say

    explicit TerminalWidth(int fd);
    // Columns as of the last resize; reads them afresh when the terminal has changed.
    int Columns();

private:
    int Fd;
    int Known = 0;
};
