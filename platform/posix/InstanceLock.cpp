#include "shell/InstanceLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
constexpr mode_t OwnerOnly = 0600;

// An open-file-description lock on the whole file: it belongs to this open file, is not
// inherited by programs the copy starts, and is not lost when another descriptor of the same
// file is closed.
flock WholeFile(short type) {
    flock lock{};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return lock;
}

int OpenLockFile(const std::string& path, std::string& why) {
    // Not blocking: whatever sits at the path (a FIFO, say) must not hold up the start.
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, OwnerOnly);
    if (fd < 0) {
        why = "cannot open " + path + ": " + std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        why = path + " is not a file of this user";
        ::close(fd);
        return -1;
    }
    return fd;
}
}  // namespace

std::string InstanceLockPath(const std::string& endpointPath) {
    return endpointPath + ".lock";
}

InstanceLock::InstanceLock(std::string path) : Path(std::move(path)) {
    Fd = OpenLockFile(Path, Why);
    if (Fd < 0) return;
    flock lock = WholeFile(F_WRLCK);
    int rc;
    while ((rc = ::fcntl(Fd, F_OFD_SETLK, &lock)) != 0 && errno == EINTR) {
    }
    if (rc == 0) {
        Outcome = State::Acquired;
    } else if (errno == EAGAIN || errno == EACCES) {
        Outcome = State::HeldByAnother;
    } else {
        Why = "cannot lock " + Path + ": " + std::strerror(errno);
    }
    if (Outcome != State::Acquired) {
        ::close(Fd);
        Fd = -1;
    }
}

InstanceLock::~InstanceLock() {
    if (Fd >= 0) ::close(Fd);  // releases the lock
}

bool InstanceLock::HeldAt(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {  // no copy locks anything else
        ::close(fd);
        return false;
    }
    flock probe = WholeFile(F_WRLCK);
    const bool held = ::fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return held;
}
