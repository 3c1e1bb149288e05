#include "sim/PortOpenWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>

PortOpenWatch::~PortOpenWatch() {
    if (Inotify >= 0) ::close(Inotify);
}

bool PortOpenWatch::Start(const std::string& path) {
    Inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (Inotify < 0) return false;
    if (inotify_add_watch(Inotify, path.c_str(), IN_OPEN) >= 0) return true;
    const int err = errno;
    ::close(Inotify);
    Inotify = -1;
    errno = err;
    return false;
}

void PortOpenWatch::Drain() {
    if (Inotify < 0) return;
    alignas(inotify_event) char events[4096];
    while (::read(Inotify, events, sizeof events) > 0) {
    }
}
