#include "sim/PtyServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {
constexpr std::size_t ChunkBytes = 4096;  // per read() or write() on the master
// A long sleep ends late (a halted virtual CPU resumes slowly, some 50 us), a short one
// much less: a long wait ends this early and the rest is slept again, so that answers
// leave close to their time and never before it.
constexpr int64_t WakeAheadNs = 50 * wire::NsPerUs;
// Without inotify, how often a hung-up terminal is looked at for a new host.
constexpr int64_t HostPollNs = 5 * wire::NsPerMs;

bool MakeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

// The status byte of a packet-mode read that reports a purge of the host's buffers.
bool IsPurge(uint8_t status) {
    return status != TIOCPKT_DATA && (status & (TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE)) != 0;
}

timespec ToTimespec(int64_t ns) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / wire::NsPerSecond);
    ts.tv_nsec = static_cast<long>(ns % wire::NsPerSecond);
    return ts;
}
}  // namespace

int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * wire::NsPerSecond + ts.tv_nsec;
}

PtyServer::PtyServer(BoxModel& box, const WireOptions& wire) : Box(box), Schedule(wire) {}

PtyServer::~PtyServer() {
    if (Master >= 0) ::close(Master);
}

bool PtyServer::Fail(const std::string& what) {
    ErrorText = what + ": " + std::strerror(errno);
    return false;
}

bool PtyServer::Open() {
    Master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (Master < 0) return Fail("cannot create a pseudo-terminal");
    if (grantpt(Master) != 0 || unlockpt(Master) != 0)
        return Fail("cannot unlock the pseudo-terminal");
    char name[128];
    if (ptsname_r(Master, name, sizeof name) != 0) return Fail("cannot name the pseudo-terminal");
    SlavePath = name;
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) return Fail("cannot open " + SlavePath);
    // Raw before anyone knows the path: a cooked slave would echo the first bytes back.
    // The settings stay with the terminal while the master is open.
    const bool raw = MakeRaw(slave);
    ::close(slave);
    if (!raw) return Fail("cannot set " + SlavePath + " to raw mode");
    if (fcntl(Master, F_SETFL, fcntl(Master, F_GETFL) | O_NONBLOCK) != 0)
        return Fail("cannot make the pseudo-terminal non-blocking");
    int packetMode = 1;  // the host's buffer purges reach the server, in order with its bytes
    if (ioctl(Master, TIOCPKT, &packetMode) != 0)
        return Fail("cannot put the pseudo-terminal into packet mode");
    OpenWatch.Start(SlavePath);  // or polling, see WaitForHost
    return true;
}

bool PtyServer::Serve(const volatile std::sig_atomic_t& stop, const sigset_t& waitMask) {
    while (!stop) {
        if (OnWake) OnWake();
        if (!HostPresent) {
            if (!WaitForHost(waitMask)) return false;
            continue;
        }
        if (!WriteDue(MonotonicNs())) return false;
        if (!WaitForWork(waitMask, MonotonicNs())) return false;
    }
    return true;
}

// Sleeps until a host has the port open: the master's hang-up has ended.
bool PtyServer::WaitForHost(const sigset_t& waitMask) {
    OpenWatch.Drain();  // opens from before this check are answered by it
    pollfd master{Master, POLLIN, 0};
    if (poll(&master, 1, 0) < 0 && errno != EINTR)
        return Fail("waiting on the pseudo-terminal failed");
    if (!(master.revents & POLLHUP)) {
        HostPresent = true;
        return true;
    }
    pollfd watch{OpenWatch.Fd(), POLLIN, 0};
    const timespec every = ToTimespec(HostPollNs);
    const bool watching = OpenWatch.Fd() >= 0;
    const int n = ppoll(watching ? &watch : nullptr, watching ? 1 : 0, watching ? nullptr : &every,
                        &waitMask);
    if (n < 0 && errno != EINTR) return Fail("waiting for a host failed");
    return true;
}

// What the host wrote before it let go ends with it. A host that opens the port at once
// again may already have written: its purge after the reset pulse comes first, and what
// follows that purge belongs to the new host.
void PtyServer::HostGone() {
    ResetBox();
    HostPresent = false;
    uint8_t chunk[ChunkBytes];
    for (ssize_t n; (n = ::read(Master, chunk, sizeof chunk)) > 0;) {
        if (IsPurge(chunk[0])) {
            HostPresent = true;
            return;
        }
    }
}

// The box restarts; answers not yet sent are lost with it.
void PtyServer::ResetBox() {
    Held.clear();
    WriteBlocked = false;
    Box.Reset();
}

// Sleeps until input comes, the next held byte is due, or the client drains its queue.
bool PtyServer::WaitForWork(const sigset_t& waitMask, int64_t nowNs) {
    pollfd pfd{Master, static_cast<short>(POLLIN | (WriteBlocked ? POLLOUT : 0)), 0};
    timespec timeout{};
    const timespec* limit = nullptr;
    if (!Held.empty() && !WriteBlocked) {
        const int64_t left = std::max<int64_t>(0, Held.front().ReleaseNs - nowNs);
        timeout = ToTimespec(left > WakeAheadNs ? left - WakeAheadNs : left);
        limit = &timeout;
    }
    const int n = ppoll(&pfd, 1, limit, &waitMask);
    if (n < 0) return errno == EINTR ? true : Fail("waiting on the pseudo-terminal failed");
    if (n == 0) return true;
    if (pfd.revents & POLLHUP) {
        HostGone();
        return true;
    }
    if (pfd.revents & POLLOUT) WriteBlocked = false;
    if (pfd.revents & POLLIN) return TakeInput();
    // An error without a hang-up means the terminal broke; going on would spin on it.
    if (pfd.revents & (POLLERR | POLLNVAL)) {
        errno = EIO;
        return Fail("the pseudo-terminal failed");
    }
    return true;
}

bool PtyServer::TakeInput() {
    uint8_t chunk[ChunkBytes];
    const ssize_t n = ::read(Master, chunk, sizeof chunk);
    if (n == 0 || (n < 0 && errno == EIO)) {  // the host let go in the meantime
        HostGone();
        return true;
    }
    if (n < 0) return (errno == EAGAIN || errno == EINTR) ? true : Fail("reading the port failed");
    // Packet mode: every read starts with a status byte. A purge of the host's buffers
    // follows the reset pulse of every open; taking it as the reset too covers a close and
    // reopen so quick that the hang-up between them went unseen.
    if (chunk[0] != TIOCPKT_DATA) {
        if (IsPurge(chunk[0])) ResetBox();
        return true;
    }
    const int64_t arrival = MonotonicNs();
    Counted.Received += n - 1;
    for (ssize_t i = 1; i < n; ++i) Feed(chunk[i], arrival);
    return true;
}

void PtyServer::Feed(uint8_t byte, int64_t arrivalNs) {
    const int64_t takenIn = Schedule.TakeIn(arrivalNs);
    Box.Receive(byte);
    if (Box.Output.empty()) return;
    const std::size_t first = Held.size();
    for (const OutByte& out : Box.Output)
        Held.push_back({out.Value, Schedule.Release(takenIn, out.DelayUs)});
    Box.Output.clear();
    // The answer to one byte reaches the client in one piece once its last byte is
    // through, as a UART's FIFO or a USB packet passes it on: never early, and the
    // client wakes once per answer rather than once per byte.
    for (std::size_t i = first; i < Held.size(); ++i) Held[i].ReleaseNs = Held.back().ReleaseNs;
}

// Writes every held byte that is due, in one write where the client's queue allows.
bool PtyServer::WriteDue(int64_t nowNs) {
    if (WriteBlocked) return true;
    uint8_t chunk[ChunkBytes];
    std::size_t due = 0;
    while (due < Held.size() && due < sizeof chunk && Held[due].ReleaseNs <= nowNs) {
        chunk[due] = Held[due].Value;
        ++due;
    }
    if (due == 0) return true;
    const ssize_t n = ::write(Master, chunk, due);
    if (n < 0) {
        if (errno != EAGAIN && errno != EINTR) return Fail("writing the port failed");
        WriteBlocked = errno == EAGAIN;
        return true;
    }
    Held.erase(Held.begin(), Held.begin() + n);
    Counted.Sent += n;
    WriteBlocked = static_cast<std::size_t>(n) < due;
    return true;
}
