#include "cli/TerminalWidth.h"

#include <io.h>
#include <windows.h>

TerminalWidth::TerminalWidth(int fd) : Fd(fd) {}

// The console has no resize signal; asking it costs little, so every call asks.
int TerminalWidth::Columns() {
    const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(Fd));
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (console != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(console, &info)) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        Known = columns > 0 ? columns : Fallback;
    } else {
        Known = Fallback;
    }
    return Known;
}
