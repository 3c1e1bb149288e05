#pragma once
// Ctrl-C and SIGTERM while an update runs: the first asks it to stop, as the window's Abort
// does, and says so on stderr at once; neither ends the process, so the run still writes
// its log, its record and the line that says what the device needs, and the exit code still
// tells whether the device was touched. Later signals only repeat that the stop is under
// way. SIGHUP (the terminal closed, an SSH session dropped) stops nothing: it is only noted,
// so that a station can end once its updates under way are done. SIGPIPE is ignored: a
// closed output pipe or terminal never ends an update; output that cannot be written is
// dropped.
//
// The handlers stay in place until the process ends: a signal that comes while the
// command writes its last lines must not end it with another exit code. One object per
// process; any thread may ask it.

class StopSignals {
public:
    // 'notice' goes to stderr at the first signal, 'again' at every later one; both are
    // kept as given (string literals) and should end in a newline.
    StopSignals(const char* notice, const char* again);
    // Quiet: the handler writes nothing; the caller says what it must (several updates on
    // one screen say it above their lines, where a handler's write would garble them).
    StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool Requested() const;
    // Stop signals so far.
    int Count() const;
    // The terminal has hung up.
    bool HungUp() const;

    // The console tells whether its cursor stands after an unfinished line (a progress bar
    // drawn in place), so that a notice starts on a line of its own.
    static void SetLineOpen(bool open);
    static bool LineOpen();
};
