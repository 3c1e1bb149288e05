#include "cli/TerminalWidth.h"

#include <sys/ioctl.h>

#include <csignal>

namespace {
volatile std::sig_atomic_t Resized = 1;

void OnResize(int) {
    Resized = 1;
}
}  // namespace

TerminalWidth::TerminalWidth(int fd) : Fd(fd) {
    struct sigaction action {};
    action.sa_handler = OnResize;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // reads and waits of the link go on undisturbed
    sigaction(SIGWINCH, &action, nullptr);
    Resized = 1;
}

int TerminalWidth::Columns() {
    if (Resized) {
        Resized = 0;
        winsize size{};
        Known = ioctl(Fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : Fallback;
    }
    return Known;
}
