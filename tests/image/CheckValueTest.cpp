// The check value: CRC-16/XMODEM, table driven, stored low byte first, never outside the image.
#include <gtest/gtest.h>

#include <cstring>

#include "image/CheckValue.h"
#include "tests/image/ImageFiles.h"

namespace {

// Bit by bit, straight from the definition: polynomial 0x1021, initial 0, no reflection.
uint16_t ReferenceCrc(const uint8_t* data, std::size_t count) {
    unsigned crc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= static_cast<unsigned>(data[i]) << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
    }
    return static_cast<uint16_t>(crc);
}

std::vector<uint8_t> FlashWith(const std::vector<uint8_t>& start) {
    std::vector<uint8_t> image(isp::FlashImageSize, isp::Blank);
    std::copy(start.begin(), start.end(), image.begin());
    return image;
}

TEST(CheckValue, CatalogueCheckOfTheDigits) {
    const char* digits = "123456789";
    EXPECT_EQ(CheckValueOf(reinterpret_cast<const uint8_t*>(digits), 9), 0x31C3);
    EXPECT_EQ(CheckValueOf(nullptr, 0), 0);
}

TEST(CheckValue, TableAgreesWithTheBitwiseDefinition) {
    const auto bytes = NoiseBytes(4096, 77);
    for (std::size_t n : {0u, 1u, 2u, 3u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 256u, 4095u, 4096u})
        EXPECT_EQ(CheckValueOf(bytes.data(), n), ReferenceCrc(bytes.data(), n)) << n;
    for (unsigned b = 0; b < 256; ++b) {
        const uint8_t one = static_cast<uint8_t>(b);
        EXPECT_EQ(CheckValueOf(&one, 1), ReferenceCrc(&one, 1)) << b;
    }
}

TEST(CheckValue, StampWritesTheDigitsValueLowByteFirst) {
    auto image = FlashWith({'1', '2', '3', '4', '5', '6', '7', '8', '9'});
    EXPECT_TRUE(StampCheckValue(image.data(), 11));
    EXPECT_EQ(image[9], 0xC3);
    EXPECT_EQ(image[10], 0x31);
    EXPECT_EQ(StoredCheckValue(image.data(), 11), 0x31C3);
    EXPECT_EQ(FirstDifference(image,
                              FlashWith({'1', '2', '3', '4', '5', '6', '7', '8', '9', 0xC3, 0x31})),
              -1);
}

TEST(CheckValue, StampTwiceGivesTrueThenFalseAndLeavesTheImage) {
    auto image = FlashWith(NoiseBytes(1000));
    EXPECT_TRUE(StampCheckValue(image.data(), 1000));
    const auto stamped = image;
    EXPECT_FALSE(StampCheckValue(image.data(), 1000));
    EXPECT_EQ(image, stamped);
}

TEST(CheckValue, ValueOf0x1234GoesAs34Then12) {
    // Two covered bytes whose value is 0x1234 (two bytes reach every value).
    auto image = FlashWith({});
    bool found = false;
    for (unsigned v = 0; v < 0x10000 && !found; ++v) {
        const uint8_t two[2] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
        if (CheckValueOf(two, 2) != 0x1234) continue;
        image[0] = two[0];
        image[1] = two[1];
        found = true;
    }
    ASSERT_TRUE(found);
    EXPECT_TRUE(StampCheckValue(image.data(), 4));
    EXPECT_EQ(image[2], 0x34);
    EXPECT_EQ(image[3], 0x12);
}

TEST(CheckValue, ImageThatCarriesItsValueIsUnchanged) {
    auto bytes = NoiseBytes(500);
    const uint16_t value = CheckValueOf(bytes.data(), 498);
    bytes[498] = static_cast<uint8_t>(value);
    bytes[499] = static_cast<uint8_t>(value >> 8);
    auto image = FlashWith(bytes);
    EXPECT_FALSE(StampCheckValue(image.data(), 500));
    EXPECT_EQ(FirstDifference(image, FlashWith(bytes)), -1);
}

TEST(CheckValue, OnlyTheTwoValueBytesChange) {
    const auto bytes = NoiseBytes(300, 5);
    auto image = FlashWith(bytes);  // 0xFF filler where the value goes
    EXPECT_TRUE(StampCheckValue(image.data(), 302));
    const uint16_t value = CheckValueOf(bytes.data(), 300);
    auto expected = FlashWith(bytes);
    expected[300] = static_cast<uint8_t>(value);
    expected[301] = static_cast<uint8_t>(value >> 8);
    EXPECT_EQ(FirstDifference(image, expected), -1);
}

TEST(CheckValue, ShortLengthsPutZeroIntoTheFirstTwoBytes) {
    for (uint32_t length : {0u, 1u, 2u}) {
        auto image = FlashWith({0xAB, 0xCD, 0xEF});
        EXPECT_TRUE(StampCheckValue(image.data(), length)) << length;
        EXPECT_EQ(FirstDifference(image, FlashWith({0x00, 0x00, 0xEF})), -1) << length;
        EXPECT_FALSE(StampCheckValue(image.data(), length)) << length;
    }
}

TEST(CheckValue, WholeFlashUsesItsLastTwoBytes) {
    auto image = FlashWith(NoiseBytes(isp::FlashImageSize));
    EXPECT_TRUE(StampCheckValue(image.data(), isp::FlashImageSize));
    EXPECT_EQ(StoredCheckValue(image.data(), isp::FlashImageSize),
              CheckValueOf(image.data(), isp::FlashImageSize - 2));
}

TEST(CheckValue, LengthBeyondTheFlashIsAFailureThatTouchesNothing) {
    for (uint32_t length : {0x40001u, 0x50000u, 0x7FFFFFFFu, 0x80000000u, static_cast<uint32_t>(-1),
                            static_cast<uint32_t>(-2)}) {
        auto image = FlashWith(NoiseBytes(64));
        const auto before = image;
        try {
            StampCheckValue(image.data(), length);
            ADD_FAILURE() << "no failure for " << length;
        } catch (const EProgError& e) {
            EXPECT_EQ(e.Code, errImageLength);
            EXPECT_EQ(GetErrorText(e.Code), "Image length out of range.");
            EXPECT_NE(e.Detail.find(std::to_string(length)), std::string::npos) << e.Detail;
        }
        EXPECT_EQ(image, before);
    }
}

}  // namespace
