#include "link/StandardDescriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {
bool IsClosed(int fd) {
    return ::fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}
}  // namespace

bool OpenClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (!IsClosed(fd)) continue;
        // The lowest free number comes back: 'fd' itself, as those below it are open by now.
        // No O_CLOEXEC: a program started from here gets its standard descriptors too.
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened < 0) return false;
        if (opened != fd) {
            const bool moved = ::dup2(opened, fd) == fd;
            ::close(opened);
            if (!moved) return false;
        }
    }
    return true;
}
