// The programmer check and the chip query through q40prog-cli, the serial layer and a
// pseudo-terminal, against q40prog-boxsim.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <tuple>

#include "tests/e2e/BoxSimFixture.h"

namespace {
constexpr int CliFailed = 1;

bool Mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

TEST_F(BoxSimTest, CheckPrintsTheBannerWithTwoBlanksBeforeTheVersion) {
    const struct {
        std::vector<std::string> Options;
        const char* Expected;
    } cases[] = {
        {{}, "KARDO Programmer \"AVR\"  V2.5\n"},
        {{"--version", "3.14"}, "KARDO Programmer \"AVR\"  V3.14\n"},
        {{"--version", "129.0"}, "KARDO Programmer \"AVR\"  V-127.0\n"},
    };
    for (const auto& c : cases) {
        StartBox(c.Options);
        const CommandResult r = Cli({"check", "--port", Port()});
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_EQ(r.Out, c.Expected);
        EXPECT_EQ(OpenPortErrno(Port()), 0);
        EXPECT_EQ(StopBox(), 0);
    }
}

TEST_F(BoxSimTest, ChipPrintsTheSimulatedChip) {
    const struct {
        std::vector<std::string> Options;
        const char* Expected;
    } cases[] = {
        {{}, "ATmega644P\n"},
        {{"--chip", "ATmega2560"}, "ATmega2560\n"},
        {{"--chip", "AT90S2313", "--enable-on-attempt", "64"}, "AT90S2313\n"},
    };
    for (const auto& c : cases) {
        StartBox(c.Options);
        const CommandResult r = Cli({"chip", "--port", Port()});
        EXPECT_EQ(r.ExitCode, 0) << r.Err;
        EXPECT_EQ(r.Out, c.Expected);
        EXPECT_EQ(StopBox(), 0);
    }
}

// A child process holds the port the way another program would: open and locked.
class PortHolder {
public:
    explicit PortHolder(const std::string& path) {
        int report[2], release[2];
        if (pipe(report) != 0 || pipe(release) != 0) return;
        Pid = fork();
        if (Pid == 0) {
            close(report[0]);
            close(release[1]);  // or the child would wait for itself
            Hold(path, report[1], release[0]);
        }
        close(report[1]);
        close(release[0]);
        Release = release[1];
        char locked = 0;
        Locked = read(report[0], &locked, 1) == 1 && locked == 1;
        close(report[0]);
    }
    ~PortHolder() {
        close(Release);  // the child sees end of file and exits, dropping the lock
        if (Pid > 0) waitpid(Pid, nullptr, 0);
    }
    bool Locked = false;

private:
    [[noreturn]] static void Hold(const std::string& path, int report, int release) {
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        const char locked = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
        (void)!write(report, &locked, 1);
        char sink;
        while (read(release, &sink, 1) > 0) {
        }
        _exit(0);
    }
    pid_t Pid = -1;
    int Release = -1;
};

TEST_F(BoxSimTest, PortHeldByAnotherProcessIsReportedInUse) {
    StartBox();
    {
        PortHolder holder(Port());
        ASSERT_TRUE(holder.Locked);
        const CommandResult r = Cli({"check", "--port", Port()});
        EXPECT_EQ(r.ExitCode, CliFailed);
        const auto err = Lines(r.Err);
        ASSERT_GE(err.size(), 2u) << r.Err;
        EXPECT_EQ(err[0], "q40prog-cli: Error opening serial port. Port already in use?");
        EXPECT_EQ(err[1].rfind("  " + Port() + " is held by e2e_tests (pid ", 0), 0u) << err[1];
        EXPECT_TRUE(r.Out.empty());
    }
    const CommandResult again = Cli({"check", "--port", Port()});
    EXPECT_EQ(again.ExitCode, 0) << again.Err;
}

TEST_F(BoxSimTest, MissingPortIsReportedNotAvailable) {
    StartBox();
    for (const std::string& port : {Scratch("ttyNONE0"), std::string("ttyQ40NONE9")}) {
        const CommandResult r = Cli({"chip", "--port", port});
        EXPECT_EQ(r.ExitCode, CliFailed) << port;
        const auto err = Lines(r.Err);
        ASSERT_GE(err.size(), 2u) << r.Err;
        EXPECT_EQ(err[0], "q40prog-cli: Error opening serial port. Port not available.");
        EXPECT_EQ(err[1].rfind("  ", 0), 0u) << err[1];
        EXPECT_TRUE(Mentions(err[1], " does not exist.")) << err[1];
    }
    EXPECT_EQ(Cli({"chip", "--port", Port()}).ExitCode, 0);
}

TEST_F(BoxSimTest, SilentBoxIsNotConnectedAfterTheEchoTimeOut) {
    StartBox({"--silent"});
    const CommandResult r = Cli({"check", "--port", Port()});
    EXPECT_EQ(r.ExitCode, CliFailed);
    EXPECT_TRUE(Mentions(r.Err, "Programmer not connected.")) << r.Err;
    EXPECT_TRUE(Mentions(r.Err, "\n  nothing answered on " + Port() +
                                    ": check that the programmer box is on this port and "
                                    "powered; q40prog-cli ports lists the serial ports of this "
                                    "machine\n"))
        << r.Err;
    // 2 s for the echo of 'V', after the reset's 0.6 s.
    EXPECT_GT(r.Seconds, 1.5);
    EXPECT_LT(r.Seconds, 5.0);
}

TEST_F(BoxSimTest, FaultSwitchesGiveTheirFailures) {
    const std::string noChip =
        "\n  the box answers, but no chip does: check the ISP cable and its pin 1, that the "
        "device is powered, and that no fuse has disabled serial programming\n";
    const struct {
        std::vector<std::string> Options;
        const char* Command;
        const char* Message;
        std::string Detail;
    } cases[] = {
        {{"--bad-echo"}, "check", "Programmer Error. (Bad echo)", ""},
        {{"--no-target"}, "chip", "Unable to enter programming mode.", noChip},
        {{"--enable-on-attempt", "65"}, "chip", "Unable to enter programming mode.", noChip},
        {{"--drop-after", "4"},
         "chip",
         "Programmer not connected.",
         "\n  the box went quiet while entering programming mode\n"},
    };
    for (const auto& c : cases) {
        StartBox(c.Options);
        const CommandResult r = Cli({c.Command, "--port", Port()});
        EXPECT_EQ(r.ExitCode, CliFailed) << c.Message;
        EXPECT_TRUE(Mentions(r.Err, c.Message)) << r.Err;
        EXPECT_TRUE(Mentions(r.Err, c.Detail)) << r.Err;
        EXPECT_EQ(OpenPortErrno(Port()), 0) << c.Message;
        EXPECT_EQ(StopBox(), 0);
    }
}
// One line per check: name, verdict, what was found; exit 1 when a check found a problem.
TEST_F(BoxSimTest, DoctorPrintsEveryCheckWithItsVerdict) {
    const auto doctor = [&](const std::string& port) {
        const CommandResult r = Cli({"doctor", "--port", port});
        std::map<std::string, std::string> found;
        std::vector<std::string> checks;
        for (const std::string& line : Lines(r.Out)) {
            const std::string check = line.substr(0, line.find(' '));
            checks.push_back(check);
            found[check] = line;
        }
        EXPECT_EQ(checks, (std::vector<std::string>{"device", "access", "holders", "ModemManager",
                                                    "brltty", "programmer"}))
            << r.Out;
        return std::pair(r.ExitCode, found);
    };
    const auto verdict = [](const std::string& line) {
        return line.substr(13, line.find(' ', 13) - 13);
    };
    StartBox();
    auto [exit, found] = doctor(Port());
    // The simulator keeps only the master side open, so between hosts nobody holds the port.
    EXPECT_EQ(verdict(found["holders"]), "ok") << found["holders"];
    EXPECT_EQ(verdict(found["programmer"]), "ok");
    EXPECT_TRUE(Mentions(found["programmer"], "KARDO Programmer \"AVR\"  V2.5"));
    if (verdict(found["ModemManager"]) != "PROBLEM" && verdict(found["brltty"]) != "PROBLEM") {
        EXPECT_EQ(exit, 0) << found["ModemManager"] << found["brltty"];
    }
    {
        PortHolder holder(Port());
        ASSERT_TRUE(holder.Locked);
        std::tie(exit, found) = doctor(Port());
        EXPECT_EQ(exit, CliFailed);
        EXPECT_EQ(verdict(found["holders"]), "PROBLEM");
        EXPECT_TRUE(Mentions(found["holders"], "is held by e2e_tests (pid ")) << found["holders"];
        EXPECT_EQ(verdict(found["programmer"]), "PROBLEM");
        EXPECT_TRUE(Mentions(found["programmer"], "Port already in use?"));
    }
    std::tie(exit, found) = doctor(Scratch("ttyNONE0"));
    EXPECT_EQ(exit, CliFailed);
    EXPECT_EQ(verdict(found["device"]), "PROBLEM");
    EXPECT_EQ(verdict(found["access"]), "note");
    EXPECT_EQ(Cli({"doctor"}).ExitCode, 2);

    // Devices that are no serial port: a problem of their own; their holders are not listed
    // and they are not opened (no reset pulse, no 'V' into a terminal).
    for (const std::string device : {"/dev/null", "/dev/zero", "/dev/tty", "/dev/ptmx"}) {
        std::tie(exit, found) = doctor(device);
        EXPECT_EQ(exit, CliFailed) << device;
        EXPECT_EQ(verdict(found["device"]), "PROBLEM") << found["device"];
        EXPECT_TRUE(Mentions(found["device"],
                             " is a device, but not a serial port: name the "
                             "port the programmer box is on."))
            << found["device"];
        EXPECT_EQ(verdict(found["holders"]), "note") << found["holders"];
        EXPECT_TRUE(Mentions(found["holders"], "not checked: " + device + " is not a serial port."))
            << found["holders"];
        EXPECT_EQ(verdict(found["programmer"]), "note") << found["programmer"];
        EXPECT_TRUE(Mentions(found["programmer"], "not asked: " + device)) << found["programmer"];
    }
}
}  // namespace
