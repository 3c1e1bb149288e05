#pragma once
// Serves a BoxModel on a pseudo-terminal: clients open the slave side as their serial
// port, the server talks through the master side. Bytes are held back as the wire
// options say; waits are ppoll() time-outs on the monotonic clock.
//
// A real box is reset by the DTR pulse of the host's next open; a pseudo-terminal has no
// DTR. So the host closing the port (its last user letting go) resets the box: a
// half-received command is dropped, programming mode ends and unsent answers are lost.
// The buffer purge that follows the reset pulse at every open resets it as well.

#include <signal.h>

#include <csignal>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "sim/BoxModel.h"
#include "sim/PortOpenWatch.h"
#include "sim/WireSchedule.h"
#include "sim/WireStats.h"

class PtyServer {
public:
    PtyServer(BoxModel& box, const WireOptions& wire);
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Creates the pseudo-terminal with its slave side raw; false with Error() set.
    bool Open();
    const std::string& PortPath() const { return SlavePath; }

    // Serves until 'stop' is set. Signals get in only while waiting, through
    // 'waitMask', so a stop request is never lost between a check and a wait.
    // False with Error() set when the pseudo-terminal fails.
    bool Serve(const volatile std::sig_atomic_t& stop, const sigset_t& waitMask);

    // Runs whenever the server wakes, before it looks at the port: signals that came in a
    // wait are acted on here.
    std::function<void()> OnWake;

    WireStats Stats() const { return Counted; }
    const std::string& Error() const { return ErrorText; }

private:
    struct HeldByte {
        uint8_t Value;
        int64_t ReleaseNs;
    };

    bool Fail(const std::string& what);
    bool TakeInput();
    void Feed(uint8_t byte, int64_t arrivalNs);
    bool WriteDue(int64_t nowNs);
    bool WaitForWork(const sigset_t& waitMask, int64_t nowNs);
    bool WaitForHost(const sigset_t& waitMask);
    void HostGone();
    void ResetBox();

    BoxModel& Box;
    WireSchedule Schedule;
    int Master = -1;
    // The server keeps no descriptor of the slave side, so the master shows a hang-up
    // exactly while no host holds the port.
    std::string SlavePath;
    PortOpenWatch OpenWatch;
    bool HostPresent = false;
    std::deque<HeldByte> Held;  // answers not yet due, in order
    bool WriteBlocked = false;  // the client's input queue is full
    WireStats Counted;
    std::string ErrorText;
};

// Now on the monotonic clock.
int64_t MonotonicNs();
