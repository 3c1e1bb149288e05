// The simulator's files: raw memory images and wire statistics.
#include <gtest/gtest.h>

#include <fstream>

#include "sim/RawImageFile.h"
#include "sim/WireStats.h"

namespace {
std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + "simfiles_" + std::to_string(::getpid()) + "_" + name;
}

void WriteBytes(const std::string& path, std::size_t count, uint8_t value) {
    std::ofstream(path, std::ios::binary) << std::string(count, static_cast<char>(value));
}

TEST(RawImageFile, SaveThenLoadGivesTheSameBytes) {
    const std::string path = TempPath("round.bin");
    std::vector<uint8_t> memory(1024);
    for (std::size_t i = 0; i < memory.size(); ++i) memory[i] = static_cast<uint8_t>(i * 7);
    std::string error;
    ASSERT_TRUE(SaveRawImage(path, memory, error)) << error;
    std::vector<uint8_t> back(1024, 0xFF);
    ASSERT_TRUE(LoadRawImage(path, back, error)) << error;
    EXPECT_EQ(back, memory);
    std::remove(path.c_str());
}

TEST(RawImageFile, AShortImageFillsTheStartAndLeavesTheRest) {
    const std::string path = TempPath("short.bin");
    WriteBytes(path, 10, 0x00);
    std::vector<uint8_t> memory(16, 0xFF);
    std::string error;
    ASSERT_TRUE(LoadRawImage(path, memory, error)) << error;
    EXPECT_EQ(memory[9], 0x00);
    EXPECT_EQ(memory[10], 0xFF);
    std::remove(path.c_str());
}

TEST(RawImageFile, FailuresSayWhatAndWhere) {
    const std::string large = TempPath("large.bin");
    WriteBytes(large, 17, 0x00);
    std::vector<uint8_t> memory(16, 0xFF);
    std::string error;
    EXPECT_FALSE(LoadRawImage(large, memory, error));
    EXPECT_NE(error.find("17 bytes"), std::string::npos) << error;
    EXPECT_EQ(memory[0], 0xFF);
    std::remove(large.c_str());

    EXPECT_FALSE(LoadRawImage(TempPath("missing.bin"), memory, error));
    EXPECT_NE(error.find("missing.bin"), std::string::npos) << error;
    EXPECT_FALSE(SaveRawImage("/nonexistent-folder/dump.bin", memory, error));
    EXPECT_NE(error.find("/nonexistent-folder/dump.bin"), std::string::npos) << error;
}

TEST(WireStats, FormattedStatsReadBack) {
    WireStats in{387072, 290816}, out;
    ASSERT_TRUE(ParseWireStats(FormatWireStats(in), out));
    EXPECT_EQ(out.Received, in.Received);
    EXPECT_EQ(out.Sent, in.Sent);
    EXPECT_EQ(FormatWireStats({1, 3}), "bytes received: 1\nbytes sent: 3\n");
}

TEST(WireStats, IncompleteTextIsRefused) {
    WireStats s;
    EXPECT_FALSE(ParseWireStats("", s));
    EXPECT_FALSE(ParseWireStats("bytes received: 1\n", s));
    EXPECT_FALSE(ParseWireStats("bytes received: x\nbytes sent: 2\n", s));
}
}  // namespace
