// The desktop program itself: one copy per user, found by a second start and by
// q40prog-cli select, even while it is stopped; its titles on a real X server; and its one
// line when there is no display.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "shell/AppIdentity.h"
#include "shell/InstanceLock.h"
#include "shell/InstanceProtocol.h"
#include "tests/support/TempFolder.h"
#include "tests/support/XServer.h"

namespace {
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
constexpr auto StartTimeout = std::chrono::seconds(20);
constexpr auto EndTimeout = std::chrono::seconds(20);
constexpr int NoDisplayExit = 1;

// A child process that dies with the test. Environment entries "NAME=value" are set,
// "-NAME" removed; stderr goes to errFile when one is named.
struct Child {
    Child(std::vector<std::string> args, std::vector<std::string> env,
          const std::string& errFile = "") {
        Pid = fork();
        if (Pid != 0) return;
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (std::string& e : env) {
            if (e.front() == '-')
                unsetenv(e.c_str() + 1);
            else
                putenv(e.data());
        }
        if (!errFile.empty()) dup2(open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
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
    // The exit code when it ended within the time, -1 otherwise (or when a signal ended it).
    int Wait(milliseconds timeout) {
        const auto end = Clock::now() + timeout;
        do {
            int status = 0;
            if (waitpid(Pid, &status, WNOHANG) == Pid) {
                Exited = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(milliseconds(20));
        } while (Clock::now() < end);
        return -1;
    }
    bool Running() { return !Exited && Wait(milliseconds(0)) == -1; }
    pid_t Pid;
    bool Exited = false;
};

std::string FileText(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// The program in a folder of its own (no catalogue beside it), with its own runtime and
// configuration folders, on the test's own X server.
struct DesktopProgram : ::testing::Test {
    void SetUp() override {
        if (Server.Display().empty()) GTEST_SKIP() << Server.Problem();
        std::filesystem::copy_file(Q40PROG, Program);
        std::filesystem::permissions(Program, std::filesystem::perms::owner_all);
        Env = {"DISPLAY=" + Server.Display(), "QT_QPA_PLATFORM=xcb", "XDG_RUNTIME_DIR=" + Temp.Path,
               "XDG_CONFIG_HOME=" + Temp.File("config")};
        Endpoint = Temp.Path + "/" + InstanceEndpointName();
    }

    // Starts the first copy and waits until it answers on its endpoint.
    std::unique_ptr<Child> StartFirstCopy() {
        auto first = std::make_unique<Child>(std::vector<std::string>{Program}, Env);
        const auto started = Clock::now();
        while (!SendInstanceRequest(EncodeCopyData(1, ""), Endpoint)) {
            EXPECT_TRUE(first->Running()) << "the first copy ended";
            EXPECT_LT(Clock::now() - started, StartTimeout);
            if (!first->Running() || Clock::now() - started > StartTimeout) return nullptr;
            std::this_thread::sleep_for(milliseconds(100));
        }
        return first;
    }

    Xvfb Server;
    TempFolder Temp;
    std::string Program = Temp.File("Q40Prog");
    std::vector<std::string> Env;
    std::string Endpoint;
};
}  // namespace

TEST_F(DesktopProgram, SecondStartAndSelectFindTheRunningCopy) {
    auto first = StartFirstCopy();
    ASSERT_TRUE(first);
    Child second({Program, "AB305"}, Env);
    EXPECT_EQ(second.Wait(EndTimeout), 0);
    EXPECT_TRUE(first->Running());

    Child select({Q40CLI, "select", "AB305"}, Env);
    EXPECT_EQ(select.Wait(EndTimeout), 0);
    EXPECT_EQ(SendInstanceRequest(EncodeCopyData(0, "AB305"), Endpoint), 1);
    EXPECT_TRUE(first->Running());
}

// A copy that cannot answer (here: stopped; in life: busy with a silent box) is still the
// running copy: the second start waits for it a while and ends, and nothing takes its endpoint.
TEST_F(DesktopProgram, AStoppedCopyKeepsItsPlace) {
    auto first = StartFirstCopy();
    ASSERT_TRUE(first);
    ASSERT_EQ(kill(first->Pid, SIGSTOP), 0);

    const auto secondStart = Clock::now();
    Child second({Program}, Env);
    Child selectWhileStopped({Q40CLI, "select", "AB305"}, Env, Temp.File("select.err"));
    EXPECT_EQ(second.Wait(EndTimeout), 0);
    const auto waited = std::chrono::duration<double>(Clock::now() - secondStart).count();
    std::printf("the second start waited %.2f s for the stopped copy\n", waited);
    EXPECT_EQ(selectWhileStopped.Wait(EndTimeout), 1);
    EXPECT_NE(FileText(Temp.File("select.err")).find("did not answer"), std::string::npos)
        << FileText(Temp.File("select.err"));
    EXPECT_TRUE(std::filesystem::exists(Endpoint));
    EXPECT_TRUE(InstanceLock::HeldAt(InstanceLockPath(Endpoint)));

    ASSERT_EQ(kill(first->Pid, SIGCONT), 0);
    Child select({Q40CLI, "select", "AB305"}, Env);
    EXPECT_EQ(select.Wait(EndTimeout), 0);
    EXPECT_TRUE(first->Running());
}

// Many callers at once fill a stopped copy's queue of connections; every one of them still
// gives up after its own wait instead of waiting for the copy without end.
TEST_F(DesktopProgram, AStoppedCopyWithManyCallersLetsEachGoAfterItsWait) {
    auto first = StartFirstCopy();
    ASSERT_TRUE(first);
    ASSERT_EQ(kill(first->Pid, SIGSTOP), 0);
    constexpr int Selects = 60, SecondStarts = 4;
    // Each caller waits instance::AnswerWaitMs from its own start; the rest is for starting
    // this many programs on a busy machine.
    const auto deadline =
        Clock::now() + milliseconds(instance::AnswerWaitMs) + std::chrono::seconds(10);
    std::vector<std::unique_ptr<Child>> selects, starts;
    for (int i = 0; i < Selects; ++i)
        selects.push_back(std::make_unique<Child>(
            std::vector<std::string>{Q40CLI, "select", "AB305"}, Env, "/dev/null"));
    for (int i = 0; i < SecondStarts; ++i)
        starts.push_back(std::make_unique<Child>(std::vector<std::string>{Program}, Env));
    const auto left = [&] {
        return std::max(milliseconds(0),
                        std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
    };
    int selectsEnded = 0, startsEnded = 0;
    for (auto& c : selects) selectsEnded += c->Wait(left()) == 1;
    for (auto& c : starts) startsEnded += c->Wait(left()) == 0;
    EXPECT_EQ(selectsEnded, Selects);
    EXPECT_EQ(startsEnded, SecondStarts);

    ASSERT_EQ(kill(first->Pid, SIGCONT), 0);
    Child select({Q40CLI, "select", "AB305"}, Env);
    EXPECT_EQ(select.Wait(EndTimeout), 0);
    EXPECT_TRUE(first->Running());
}

// What the window manager reads: the confirmation window's version caption, then the main
// window's title, each exactly, in _NET_WM_NAME and WM_NAME alike.
TEST_F(DesktopProgram, TitlesAsTheWindowManagerReadsThem) {
    XClient x(Server.Display());
    ASSERT_TRUE(x.Connected());
    Child program({Program}, Env);
    const auto shownWith = [&](const std::string& title) -> uint32_t {
        const auto start = Clock::now();
        while (Clock::now() - start < StartTimeout && program.Running()) {
            for (const XClient::Window& w : x.MappedTopLevels()) {
                EXPECT_EQ(w.NetWmName.find("\xE2\x80\x94"), std::string::npos) << w.NetWmName;
                if (w.NetWmName == title && w.WmName == title) return w.Id;
            }
            std::this_thread::sleep_for(milliseconds(50));
        }
        return 0;
    };
    const uint32_t confirmation = shownWith(VersionCaption(ProgramVersion()));
    ASSERT_NE(confirmation, 0u);
    x.Focus(confirmation);
    x.TypeText("yes");
    x.PressKey(keysym::Return);
    EXPECT_NE(shownWith(ApplicationTitle), 0u);
}

// Without a display the program says so in one line and ends with a non-zero code.
TEST(DesktopProgramWithoutDisplay, OneLineAndExitCodeOne) {
    TempFolder temp;
    const struct {
        const char* Case;
        std::vector<std::string> Env;
        const char* Says;
    } cases[] = {
        {"no display named", {"-DISPLAY", "-WAYLAND_DISPLAY"}, "DISPLAY and WAYLAND_DISPLAY"},
        {"display not there", {"DISPLAY=:65000", "-WAYLAND_DISPLAY"}, "display :65000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        std::vector<std::string> env = c.Env;
        env.insert(env.end(), {"-QT_QPA_PLATFORM", "XDG_RUNTIME_DIR=" + temp.Path});
        Child program({Q40PROG}, env, temp.File("err"));
        EXPECT_EQ(program.Wait(EndTimeout), NoDisplayExit);
        const std::string err = FileText(temp.File("err"));
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find(c.Says), std::string::npos) << err;
        EXPECT_NE(err.find("q40prog-cli works without one"), std::string::npos) << err;
    }
}
