#include <gtest/gtest.h>

#include "shell/AppIdentity.h"
#include "shell/InstanceProtocol.h"

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
