#include "platform/posix/PosixSerialPort.h"
#include "link/PortDoctor.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

namespace {
long long NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
}  // namespace

std::unique_ptr<ISerialPort> MakeSystemSerialPort() {
    return std::make_unique<PosixSerialPort>();
}

std::string SerialDeviceFolder() {
    return "/dev/";
}

std::string SerialDevicePath(const std::string& portName) {
    if (portName.find('/') != std::string::npos) return portName;
    return "/dev/" + portName;
}

PosixSerialPort::~PosixSerialPort() {
    Close();
}

bool PosixSerialPort::Fail(int err) {
    Error = err;
    return false;
}

bool PosixSerialPort::Open(const std::string& name) {
    Close();
    DevicePath = SerialDevicePath(name);
    int fd = ::open(DevicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail(errno);
    // TIOCEXCL keeps other users out; root ignores it, so the lock is what counts for root.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = (errno == EWOULDBLOCK) ? EBUSY : errno;
        ::close(fd);
        return Fail(err);
    }
    if (!isatty(fd)) {
        ::close(fd);
        return Fail(ENOTTY);
    }
    ioctl(fd, TIOCEXCL);
    Fd = fd;
    termios found{};
    if (tcgetattr(Fd, &found) == 0) FoundLine = found;
    RequestLowLatency();
    return true;
}

void PosixSerialPort::Close() {
    if (Fd < 0) return;
    RestoreSettings();
    ioctl(Fd, TIOCNXCL);
    ::close(Fd);  // also drops the lock
    Fd = -1;
}

// USB adapters hold received bytes back (up to 16 ms) unless asked not to; every echo
// round trip would pay for it. Drivers that do not know the request are left alone.
void PosixSerialPort::RequestLowLatency() {
    serial_struct ss{};
    if (ioctl(Fd, TIOCGSERIAL, &ss) != 0 || (ss.flags & ASYNC_LOW_LATENCY)) return;
    const int found = ss.flags;
    ss.flags |= ASYNC_LOW_LATENCY;
    if (ioctl(Fd, TIOCSSERIAL, &ss) == 0) FoundFlags = found;
}

// Immediately, not after draining: output the box no longer reads must not hold up a close.
void PosixSerialPort::RestoreSettings() {
    if (FoundLine) tcsetattr(Fd, TCSANOW, &*FoundLine);
    FoundLine.reset();
    serial_struct ss{};
    if (FoundFlags && ioctl(Fd, TIOCGSERIAL, &ss) == 0) {
        ss.flags = *FoundFlags;
        ioctl(Fd, TIOCSSERIAL, &ss);
    }
    FoundFlags.reset();
}

std::vector<std::string> PosixSerialPort::KnownTroubles(bool accessExplained) const {
    return PortTroubles(DevicePath, ThisMachine(), accessExplained);
}

std::string PosixSerialPort::AccessCure() const {
    return ::AccessCure(DevicePath, ThisMachine());
}

bool PosixSerialPort::ConfigureLine() {
    termios tio{};
    if (tcgetattr(Fd, &tio) != 0) return Fail(errno);
    cfmakeraw(&tio);
    // No parity of any kind: what another program left for odd or mark parity goes too.
    tio.c_cflag &= ~(CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CSIZE);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    if (tcsetattr(Fd, TCSANOW, &tio) != 0) return Fail(errno);
    return true;
}

bool PosixSerialPort::SetReadTimeouts(const ReadTimeouts& t) {
    Timeouts = t;
    return true;
}

bool PosixSerialPort::SetDtr(bool asserted) {
    int bits = TIOCM_DTR;
    if (ioctl(Fd, asserted ? TIOCMBIS : TIOCMBIC, &bits) == 0) return true;
    // Pseudo-terminals and some adapters have no modem lines; there is nothing to pulse.
    if (errno == ENOTTY || errno == EINVAL) return true;
    return Fail(errno);
}

void PosixSerialPort::PurgeReceive() {
    tcflush(Fd, TCIFLUSH);
}
void PosixSerialPort::PurgeTransmit() {
    tcflush(Fd, TCOFLUSH);
}

int PosixSerialPort::WaitFor(short events, long long deadlineMs) {
    for (;;) {
        const long long left = deadlineMs - NowMs();
        if (left <= 0) return 0;
        pollfd pfd{Fd, events, 0};
        const int n = ::poll(&pfd, 1, static_cast<int>(std::min(left, 1LL << 30)));
        if (n < 0) {
            if (errno == EINTR) continue;
            Error = errno;
            return -1;
        }
        if (n == 0) continue;  // re-check the deadline
        if (pfd.revents & events) return 1;
        // Hang-up or error without data: the device went away.
        Error = (pfd.revents & POLLNVAL) ? EBADF : EIO;
        return -1;
    }
}

bool PosixSerialPort::Read(uint8_t* dest, std::size_t count, std::size_t& received) {
    received = 0;
    if (Fd < 0) return Fail(EBADF);
    const long long start = NowMs();
    const long long total =
        start + static_cast<long long>(Timeouts.TotalMultiplierMs) * static_cast<long long>(count) +
        Timeouts.TotalConstantMs;
    long long interval = total;  // the gap limit starts with the first byte
    while (received < count) {
        const int ready = WaitFor(POLLIN, std::min(total, interval));
        if (ready < 0) return false;
        if (ready == 0) return true;  // time-out: a short read
        const ssize_t n = ::read(Fd, dest + received, count - received);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return Fail(errno);
        }
        if (n == 0) return Fail(EIO);  // readable but nothing there: hung up
        received += static_cast<std::size_t>(n);
        interval = NowMs() + Timeouts.IntervalMs;
    }
    return true;
}

bool PosixSerialPort::Write(const uint8_t* src, std::size_t count) {
    if (Fd < 0) return Fail(EBADF);
    std::size_t sent = 0;
    while (sent < count) {
        const ssize_t n = ::write(Fd, src + sent, count - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return Fail(errno);
        const int ready = WaitFor(POLLOUT, NowMs() + WriteStallMs);
        if (ready < 0) return false;
        if (ready == 0) return Fail(ETIMEDOUT);
    }
    return true;
}
