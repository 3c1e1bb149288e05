// The termios port leaves a terminal's settings as it found them.
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "link/IspLink.h"
#include "platform/posix/PosixSerialPort.h"

namespace {
struct Pty {
    Pty() { EXPECT_EQ(openpty(&Master, &Slave, Name, nullptr, nullptr), 0); }
    ~Pty() {
        close(Slave);
        close(Master);
    }
    termios Settings() const {
        termios t{};
        EXPECT_EQ(tcgetattr(Slave, &t), 0);
        return t;
    }
    int Master = -1, Slave = -1;
    char Name[64] = {};
};

// A terminal as a shell leaves it: line editing, echo, 9600 baud.
termios Cooked(termios t) {
    t.c_lflag |= ICANON | ECHO | ISIG;
    t.c_iflag |= ICRNL | IXON;
    t.c_oflag |= OPOST | ONLCR;
    t.c_cc[VMIN] = 1;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    return t;
}

void ExpectSame(const termios& a, const termios& b) {
    EXPECT_EQ(a.c_iflag, b.c_iflag);
    EXPECT_EQ(a.c_oflag, b.c_oflag);
    EXPECT_EQ(a.c_cflag, b.c_cflag);
    EXPECT_EQ(a.c_lflag, b.c_lflag);
    EXPECT_EQ(cfgetispeed(&a), cfgetispeed(&b));
    EXPECT_EQ(cfgetospeed(&a), cfgetospeed(&b));
    EXPECT_EQ(std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc), 0);
}

// The line as the box needs it, read back from the terminal once the link has opened it: 115200
// baud both ways, 8 data bits, no parity, 1 stop bit, no flow control, raw. The terminal starts
// out with everything else set, so each setting shows that the port made it.
TEST(SerialSettings, OpenedPortIs115200EightNoneOneRawWithoutFlowControl) {
    Pty pty;
    termios other = Cooked(pty.Settings());
    other.c_cflag = (other.c_cflag & ~CSIZE) | CS7 | PARENB | PARODD | CSTOPB | CRTSCTS;
    other.c_iflag |= IXON | IXOFF | IXANY | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK | INPCK;
    other.c_lflag |= IEXTEN | ECHONL;
    cfsetispeed(&other, B9600);
    cfsetospeed(&other, B9600);
    ASSERT_EQ(tcsetattr(pty.Slave, TCSANOW, &other), 0);

    FakeClock clock;
    TIspLink link(std::make_unique<PosixSerialPort>(), clock);
    link.OpenPort(pty.Name);
    const termios t = pty.Settings();

    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD), 0u) << "parity";
    EXPECT_EQ(t.c_cflag & CSTOPB, 0u) << "two stop bits";
    EXPECT_EQ(t.c_cflag & CRTSCTS, 0u) << "RTS/CTS flow control";
    EXPECT_EQ(t.c_cflag & CREAD, static_cast<tcflag_t>(CREAD)) << "receiver off";
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY), 0u) << "XON/XOFF flow control";
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK | INPCK), 0u)
        << "input translated";
    EXPECT_EQ(t.c_oflag & OPOST, 0u) << "output translated";
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u) << "line discipline";
}

TEST(SerialSettings, CloseAndDestructionPutTheTerminalsSettingsBack) {
    for (const bool destroy : {false, true}) {
        Pty pty;
        const termios before = Cooked(pty.Settings());
        ASSERT_EQ(tcsetattr(pty.Slave, TCSANOW, &before), 0);
        auto port = std::make_unique<PosixSerialPort>();
        ASSERT_TRUE(port->Open(pty.Name)) << port->LastError();
        ASSERT_TRUE(port->ConfigureLine());
        const termios during = pty.Settings();
        EXPECT_EQ(cfgetospeed(&during), static_cast<speed_t>(B115200));
        EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
        if (destroy)
            port.reset();
        else
            port->Close();
        ExpectSame(pty.Settings(), before);
    }
}
}  // namespace
