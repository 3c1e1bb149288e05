#include <gtest/gtest.h>

#include <filesystem>

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
    for (const std::string name : {"folder.lock", "link.lock", "missing/x.lock"}) {
        SCOPED_TRACE(name);
        const InstanceLock lock(temp.File(name));
        EXPECT_EQ(lock.Result(), InstanceLock::State::Unavailable);
        EXPECT_NE(lock.Problem().find(temp.File(name)), std::string::npos) << lock.Problem();
    }
    EXPECT_FALSE(std::filesystem::exists(temp.File("elsewhere")));
}
