// The desktop program on a real X server: one copy per user, found by a second start and by
// q40prog-cli select.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "shell/AppIdentity.h"
#include "shell/InstanceProtocol.h"
#include "tests/support/TempFolder.h"

namespace {
constexpr auto StartTimeout = std::chrono::seconds(20);
constexpr auto SecondStartTimeout = std::chrono::seconds(10);

// A child process that dies with the test; environment entries are added to the test's own.
struct Child {
    Child(std::vector<std::string> args, std::vector<std::string> env) {
        Pid = fork();
        if (Pid != 0) return;
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (std::string& e : env) putenv(e.data());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ~Child() {
        if (Pid > 0 && !Exited) {
            kill(Pid, SIGKILL);
            waitpid(Pid, nullptr, 0);
        }
    }
    // The exit code when it ended within the time, -1 otherwise.
    int Wait(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(Pid, &status, WNOHANG) == Pid) {
                Exited = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
    bool Running() { return !Exited && Wait(std::chrono::milliseconds(0)) == -1; }
    pid_t Pid;
    bool Exited = false;
};

bool HaveXvfb() {
    return std::filesystem::exists("/usr/bin/Xvfb");
}
}  // namespace

TEST(SingleInstance, SecondStartAndSelectFindTheRunningCopy) {
    if (!HaveXvfb()) GTEST_SKIP() << "Xvfb is not installed";
    TempFolder temp;
    const std::string display = ":" + std::to_string(40 + getpid() % 200);
    Child xvfb({"/usr/bin/Xvfb", display, "-nolisten", "tcp", "-screen", "0", "1024x768x24"}, {});
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(xvfb.Running()) << "Xvfb did not start on " << display;

    // The program in a folder of its own, with an empty catalogue beside it.
    std::filesystem::copy_file(Q40PROG, temp.File("Q40Prog"));
    std::filesystem::permissions(temp.File("Q40Prog"), std::filesystem::perms::owner_all);
    const std::vector<std::string> env = {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb",
                                          "XDG_RUNTIME_DIR=" + temp.Path,
                                          "XDG_CONFIG_HOME=" + temp.File("config")};
    const std::string endpoint = temp.Path + "/" + InstanceEndpointName();

    Child first({temp.File("Q40Prog")}, env);
    const auto started = std::chrono::steady_clock::now();
    while (!SendInstanceRequest(EncodeCopyData(1, ""), endpoint)) {
        ASSERT_TRUE(first.Running()) << "the first copy ended";
        ASSERT_LT(std::chrono::steady_clock::now() - started, StartTimeout);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    Child second({temp.File("Q40Prog"), "AB305"}, env);
    EXPECT_EQ(second.Wait(SecondStartTimeout), 0);
    EXPECT_TRUE(first.Running());

    std::vector<std::string> selectEnv = env;
    Child select({Q40CLI, "select", "AB305"}, selectEnv);
    EXPECT_EQ(select.Wait(SecondStartTimeout), 0);
    EXPECT_EQ(SendInstanceRequest(EncodeCopyData(0, "AB305"), endpoint), 1);
    EXPECT_TRUE(first.Running());
}
