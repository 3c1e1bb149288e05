// Firmware identifiers: the matching rule, the search in an image and in a file.
#include <gtest/gtest.h>

#include <cstring>

#include "image/FirmwareId.h"
#include "tests/image/ImageFiles.h"

namespace {

TEST(MatchFirmwareId, Rule) {
    const struct {
        const char* A;
        const char* B;
        bool Match;
    } cases[] = {
        {"Q40A1", "Q40A1", true},
        {"Q40A1", "Q40B1", true},   // position 3 is free among non-"*"
        {"Q40+1", "Q40A1", true},   // "+" pattern finds every application
        {"Q40*1", "Q40*1", true},   // bootloader with bootloader
        {"Q40*1", "Q40A1", false},  // "*" against non-"*"
        {"Q40*1", "Q40+1", false},
        {"Q40A1 v2.01", "Q40B1", true},  // characters after position 4 are not compared
        {"Q40A1", "q40A1", false},       // letter case counts
        {"Q40A1", "Q41A1", false},
        {"Q40A1", "Q40A2", false},  // position 4 identifies
        {"X40A1", "Q40A1", false},  // position 0
        {"QX0A1", "Q40A1", false},  // position 1
        {"Q4XA1", "Q40A1", false},  // position 2
        {"Q40A", "Q40A1", false},   // shorter than five: nothing
        {"Q40A", "Q40A", false},
        {"", "", false},
        {"Q40A1", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MatchFirmwareId(c.A, c.B), c.Match) << c.A << " / " << c.B;
        EXPECT_EQ(MatchFirmwareId(c.B, c.A), c.Match) << c.B << " / " << c.A << " (symmetric)";
    }
}

TEST(BootloaderPattern, StarReplacesPlus) {
    EXPECT_EQ(BootloaderPattern("Q40+1"), "Q40*1");
    EXPECT_EQ(BootloaderPattern("Q40+1 x"), "Q40*1 x");
    EXPECT_EQ(BootloaderPattern("Q40A1"), "");
    EXPECT_EQ(BootloaderPattern("Q4+"), "");
    EXPECT_EQ(BootloaderPattern(""), "");
}

class FindId : public ::testing::Test {
protected:
    std::vector<uint8_t> Image = std::vector<uint8_t>(isp::FlashImageSize, isp::Blank);

    void Put(std::size_t at, const std::string& text, bool zero = true) {
        std::memcpy(Image.data() + at, text.data(), text.size());
        if (zero) Image[at + text.size()] = 0;
    }
    std::string Find(int32_t size, const std::string& pattern) {
        return FindFirmwareId(Image.data(), size, pattern, isp::FlashImageSize);
    }
};

TEST_F(FindId, TextUpToTheZeroByte) {
    Put(0x1000, "Q40A1 V1.23 (2024)");
    EXPECT_EQ(Find(0x2000, "Q40A1"), "Q40A1 V1.23 (2024)");
    EXPECT_EQ(Find(0x2000, "Q40+1"), "Q40A1 V1.23 (2024)");
    EXPECT_EQ(Find(0x2000, "Q40*1"), "");
    EXPECT_EQ(Find(0x2000, "Q40A2"), "");
}

TEST_F(FindId, LastOccurrenceWins) {
    Put(0x100, "Q40A1 old");
    Put(0x3000, "Q40B1 new");
    Put(0x2000, "Q40A1 middle");
    EXPECT_EQ(Find(0x4000, "Q40+1"), "Q40B1 new");
    EXPECT_EQ(Find(0x4000, "Q40A1"), "Q40B1 new");     // position 3 free
    EXPECT_EQ(Find(0x3000, "Q40A1"), "Q40A1 middle");  // the later one lies beyond size
}

TEST_F(FindId, ApplicationAndBootloaderApart) {
    Put(0x100, "Q40A1 app 2.0");
    Put(0x3F000, "Q40*1 boot 1.1");
    EXPECT_EQ(Find(isp::FlashImageSize, "Q40+1"), "Q40A1 app 2.0");
    EXPECT_EQ(Find(isp::FlashImageSize, BootloaderPattern("Q40+1")), "Q40*1 boot 1.1");
}

TEST_F(FindId, StartAtTheLastPositionBeforeSizeMatches) {
    Put(0x1FF, "Q40A1 end");
    EXPECT_EQ(Find(0x200, "Q40A1"), "Q40A1 end");
    EXPECT_EQ(Find(0x1FF, "Q40A1"), "");
}

TEST_F(FindId, ShortPatternMatchesNothing) {
    Put(0, "Q40A1");
    for (const char* p : {"", "Q", "Q40", "Q40A"}) EXPECT_EQ(Find(0x100, p), "") << p;
}

TEST_F(FindId, NoSizeNoResult) {
    Put(0, "Q40A1");
    EXPECT_EQ(Find(0, "Q40A1"), "");
    EXPECT_EQ(Find(-5, "Q40A1"), "");
}

TEST(FindIdBuffer, TextWithoutZeroEndsAtTheBuffersEnd) {
    // A buffer of its own exact length, so that a sanitizer sees any read beyond it.
    const std::string tail = "Q40A1 no zero";
    std::vector<uint8_t> buffer(64, 0x20);
    std::memcpy(buffer.data() + 64 - tail.size(), tail.data(), tail.size());
    EXPECT_EQ(FindFirmwareId(buffer.data(), 64, "Q40A1", 64), tail);
    EXPECT_EQ(FindFirmwareId(buffer.data(), 1000, "Q40A1", 64), tail);  // size beyond buffer
}

TEST(FindIdBuffer, IdentifierCutByTheBuffersEndDoesNotMatch) {
    for (std::size_t keep = 1; keep < 5; ++keep) {
        std::vector<uint8_t> buffer(32, 0);
        std::memcpy(buffer.data() + 32 - keep, "Q40A1", keep);
        std::string pattern = "Q40A1";
        EXPECT_EQ(FindFirmwareId(buffer.data(), 32, pattern, 32), "") << keep;
    }
    const uint8_t exact[5] = {'Q', '4', '0', 'A', '1'};
    EXPECT_EQ(FindFirmwareId(exact, 5, "Q40A1", 5), "Q40A1");
    EXPECT_EQ(FindFirmwareId(exact, 5, "Q40A1", 4), "");
    EXPECT_EQ(FindFirmwareId(exact, 5, "Q40A1", 0), "");
}

class ReadId : public ::testing::Test {
protected:
    TempDir Dir;
};

std::vector<uint8_t> WithText(std::vector<uint8_t> bytes, std::size_t at, const std::string& t) {
    std::copy(t.begin(), t.end(), bytes.begin() + static_cast<long>(at));
    bytes[at + t.size()] = 0;
    return bytes;
}

TEST_F(ReadId, FromIntelHex) {
    const auto bytes = WithText(Bytes(64, 0x80), 16, "Q40A1 v3");
    const std::string path =
        Dir.Write("fw.hex", Data(0, {bytes.begin(), bytes.begin() + 32}) +
                                Data(32, {bytes.begin() + 32, bytes.end()}) + EndOfFile);
    EXPECT_EQ(ReadFirmwareId(path, "Q40+1"), "Q40A1 v3");
}

TEST_F(ReadId, FromBinary) {
    const auto bytes = WithText(NoiseBytes(5000), 4000, "Q40*1 boot");
    EXPECT_EQ(ReadFirmwareId(Dir.Write("fw.BIN", bytes), "Q40*1"), "Q40*1 boot");
}

TEST_F(ReadId, BadChecksumGivesEmpty) {
    const auto bytes = WithText(Bytes(16), 0, "Q40A1 v3");
    const std::string path = Dir.Write("bad.hex", Data(0, bytes, 1));
    EXPECT_EQ(ReadFirmwareId(path, "Q40A1"), "");
}

TEST_F(ReadId, EveryLoadFailureGivesEmpty) {
    std::filesystem::create_directory(Dir.Path("dir.bin"));
    EXPECT_EQ(ReadFirmwareId(Dir.Path("missing.hex"), "Q40A1"), "");
    EXPECT_EQ(ReadFirmwareId(Dir.Path("dir.bin"), "Q40A1"), "");
    EXPECT_EQ(ReadFirmwareId(Dir.Write("syntax.hex", ":10000000Q40A1"), "Q40A1"), "");
    EXPECT_EQ(ReadFirmwareId(Dir.Write("range.hex", Segment(0x4000) + Data(0, {1})), "Q40A1"), "");
}

}  // namespace
