// Intel HEX written from memory: the exact records of a small case, and what the reader loads
// back from images of every size the chips have, blank records left out or kept.
#include <gtest/gtest.h>

#include <vector>

#include "image/ImageLoader.h"
#include "image/IntelHexWriter.h"
#include "link/ImageBuffer.h"

namespace {
std::vector<uint8_t> Pattern(std::size_t count, unsigned key) {
    std::vector<uint8_t> bytes(count);
    unsigned v = key;
    for (uint8_t& b : bytes) {
        v = v * 1103515245u + 12345u;
        b = static_cast<uint8_t>(v >> 16);
    }
    return bytes;
}
}  // namespace

TEST(HexWrite, RecordsOfASmallImage) {
    const uint8_t three[] = {1, 2, 3};
    EXPECT_EQ(IntelHexText(three, 3, false), ":03000000010203F7\n:00000001FF\n");
    EXPECT_EQ(IntelHexText(three, 0, false), ":00000001FF\n");
    const std::vector<uint8_t> blank(40, 0xFF);
    EXPECT_EQ(IntelHexText(blank.data(), 40, true), ":00000001FF\n");
    EXPECT_EQ(IntelHexText(blank.data(), 40, false).size(), 2 * 44u + 28u + 12u);
    // Past 64 KiB an extended linear address record sets the upper address bits.
    std::vector<uint8_t> big(0x10010, 0xFF);
    big[0x10000] = 0xAA;
    EXPECT_EQ(IntelHexText(big.data(), static_cast<int32_t>(big.size()), true),
              ":020000040001F9\n:10000000AAFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF55\n:00000001FF\n");
}

TEST(HexWrite, ReaderLoadsEveryImageBackByteForByte) {
    for (int32_t size : {1, 17, 0x800, 0x10000, 0x10005, 0x40000}) {
        for (bool skipBlank : {false, true}) {
            SCOPED_TRACE(std::to_string(size) + (skipBlank ? " skipping blank" : ""));
            std::vector<uint8_t> image = Pattern(static_cast<std::size_t>(size), 5);
            for (int32_t i = 0; i + 64 < size; i += 256)  // blank stretches among the data
                std::fill(image.begin() + i, image.begin() + i + 48, 0xFF);
            const std::string text = IntelHexText(image.data(), size, skipBlank);
            std::vector<uint8_t> loaded(isp::FlashImageSize);
            const int32_t end = ReadIntelHexText(text.data(), text.size(), loaded.data(),
                                                 isp::FlashImageSize, "copy.hex");
            EXPECT_LE(end, size);
            EXPECT_TRUE(std::equal(image.begin(), image.end(), loaded.begin()));
            if (!skipBlank) {
                EXPECT_EQ(end, size);
            }
        }
    }
}
