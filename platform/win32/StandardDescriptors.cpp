#include "link/StandardDescriptors.h"

#include <fcntl.h>
#include <io.h>

// A Windows program started without a console or with a handle closed gets no number for it
// in the C runtime; one opened later takes the lowest free number as on POSIX, so the same
// care applies.
bool OpenClosedStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (_get_osfhandle(fd) != -1) continue;
        const int opened = _open("NUL", _O_RDWR | _O_BINARY);
        if (opened < 0) return false;
        if (opened != fd) {
            const bool moved = _dup2(opened, fd) == 0;
            _close(opened);
            if (!moved) return false;
        }
    }
    return true;
}
