// The termios port leaves a terminal's settings as it found them.
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "link/PosixSerialPort.h"

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
