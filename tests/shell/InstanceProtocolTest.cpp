#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "shell/AppIdentity.h"
#include "shell/InstanceLock.h"
#include "shell/InstanceProtocol.h"
#include "tests/support/TempFolder.h"

TEST(AppIdentity, VersionCaption) {
    EXPECT_EQ(VersionCaption({2, 6, 1, 1}), "Version 2.6.1, Build 1");
    EXPECT_EQ(VersionCaption({10, 0, 12, 345}), "Version 10.0.12, Build 345");
}

TEST(InstanceProtocol, WireFormat) {
    EXPECT_EQ(EncodeActivate(), std::vector<uint8_t>{'A'});
    EXPECT_EQ(EncodeCopyData(0x01020304, std::string("AB\0C", 4)),
              (std::vector<uint8_t>{'C', 4, 3, 2, 1, 4, 0, 0, 0, 'A', 'B', 0, 'C'}));
}

TEST(InstanceProtocol, EndpointIsPerUserAndNoCopyMeansNoAnswer) {
    const std::string path = InstanceEndpointPath();
    EXPECT_NE(path.find("KARDO-Q-Series-Programmer-"), std::string::npos) << path;
    EXPECT_FALSE(SendInstanceRequest(EncodeActivate(), "/nonexistent/q40-endpoint").has_value());
}

namespace {
// What a stopped copy is to its callers: a socket that listens and never takes a connection.
struct StoppedCopy {
    explicit StoppedCopy(const std::string& path) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        Listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        Bound = ::bind(Listener, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
                ::listen(Listener, 2) == 0;
        // Callers that came first fill its queue.
        for (;;) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
                QueueFull = errno == EAGAIN;
                ::close(fd);
                break;
            }
            Waiting.push_back(fd);
        }
    }
    ~StoppedCopy() {
        for (const int fd : Waiting) ::close(fd);
        ::close(Listener);
    }
    int Listener = -1;
    bool Bound = false, QueueFull = false;
    std::vector<int> Waiting;
};
}  // namespace

// Callers of a copy that takes no connections give up at the end of their wait, however many
// there are; a blocking connect would wait for the copy without end.
TEST(InstanceProtocol, ACopyWhoseQueueIsFullIsNotWaitedForWithoutEnd) {
    TempFolder temp;
    const StoppedCopy copy(temp.File("endpoint"));
    ASSERT_TRUE(copy.Bound);
    ASSERT_TRUE(copy.QueueFull);
    std::vector<std::thread> callers;
    std::vector<int> answered(8, -1);
    for (std::size_t i = 0; i < answered.size(); ++i)
        callers.emplace_back([&, i] {
            const auto request = i % 2 ? EncodeActivate() : EncodeCopyData(0, "AB305");
            answered[i] =
                SendInstanceRequest(request, temp.File("endpoint"), 200, i % 4 < 2).has_value();
        });
    for (std::thread& t : callers) t.join();
    EXPECT_EQ(answered, std::vector<int>(answered.size(), 0));
}

TEST(InstanceLock, HeldUntilItsHolderLetsGo) {
    TempFolder temp;
    const std::string path = InstanceLockPath(temp.File("endpoint"));
    EXPECT_EQ(path, temp.File("endpoint.lock"));
    EXPECT_FALSE(InstanceLock::HeldAt(path));
    {
        const InstanceLock first(path);
        ASSERT_EQ(first.Result(), InstanceLock::State::Acquired) << first.Problem();
        EXPECT_TRUE(InstanceLock::HeldAt(path));
        const InstanceLock second(path);
        EXPECT_EQ(second.Result(), InstanceLock::State::HeldByAnother);
        EXPECT_TRUE(InstanceLock::HeldAt(path));  // asking takes nothing away
    }
    EXPECT_FALSE(InstanceLock::HeldAt(path));
    EXPECT_EQ(InstanceLock(path).Result(), InstanceLock::State::Acquired);
}

TEST(InstanceLock, AnUnusableLockFileIsNamed) {
    TempFolder temp;
    std::filesystem::create_directory(temp.File("folder.lock"));
    std::filesystem::create_symlink(temp.File("elsewhere"), temp.File("link.lock"));
    ASSERT_EQ(::mkfifo(temp.File("fifo.lock").c_str(), 0600), 0);  // opening one may block
    EXPECT_FALSE(InstanceLock::HeldAt(temp.File("fifo.lock")));
    for (const std::string name : {"folder.lock", "link.lock", "missing/x.lock", "fifo.lock"}) {
        SCOPED_TRACE(name);
        const InstanceLock lock(temp.File(name));
        EXPECT_EQ(lock.Result(), InstanceLock::State::Unavailable);
        EXPECT_NE(lock.Problem().find(temp.File(name)), std::string::npos) << lock.Problem();
    }
    EXPECT_FALSE(std::filesystem::exists(temp.File("elsewhere")));
}
