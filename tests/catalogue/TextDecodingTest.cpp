#include "catalogue/TextDecoding.h"

#include <gtest/gtest.h>

namespace {
struct DecodeCase {
    const char* Title;
    std::string Bytes;
    std::string Utf8;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << c.Title;
}

class Decoding : public testing::TestWithParam<DecodeCase> {};

TEST_P(Decoding, GivesUtf8) {
    const DecodeCase& c = GetParam();
    EXPECT_EQ(DecodeCatalogueText(c.Bytes), c.Utf8) << c.Title;
    EXPECT_TRUE(IsValidUtf8(DecodeCatalogueText(c.Bytes))) << c.Title;
}

const DecodeCase DecodeCases[] = {
    {"plain ASCII", "NAME=Main", "NAME=Main"},
    {"UTF-8 stays", "Gr\xC3\xB6\xC3\x9F\x65", "Größe"},
    {"UTF-8 byte-order mark is dropped", "\xEF\xBB\xBFGr\xC3\xB6\xC3\x9F\x65", "Größe"},
    {"only a leading byte-order mark is dropped", "a\xEF\xBB\xBF", "a\xEF\xBB\xBF"},
    {"Windows-1252 umlauts", "\xC4\xD6\xDC\xE4\xF6\xFC\xDF", "ÄÖÜäöüß"},
    {"Windows-1252 signs above 0x7F", "\x80 \x84\x93\x96",
     "\xE2\x82\xAC \xE2\x80\x9E\xE2\x80\x9C\xE2\x80\x93"},
    {"unassigned Windows-1252 bytes keep their code point", "\x81\x8D", "\xC2\x81\xC2\x8D"},
    {"one stray byte makes the whole file Windows-1252", "\xC3\xB6 \xF6", "Ã¶ ö"},
    {"overlong UTF-8 is not UTF-8", "\xC0\xAF", "À¯"},
    {"UTF-8 surrogate is not UTF-8", "\xED\xA0\x80", "í\xC2\xA0\xE2\x82\xAC"},
    {"truncated UTF-8 sequence is not UTF-8", "ab\xE2\x82", "ab\xC3\xA2\xE2\x80\x9A"},
    {"four-byte UTF-8 stays", "\xF0\x9F\x94\x8C", "\xF0\x9F\x94\x8C"},
    {"beyond U+10FFFF is not UTF-8", "\xF4\x90\x80\x80", "ô\xC2\x90€€"},
};

INSTANTIATE_TEST_SUITE_P(Catalogue, Decoding, testing::ValuesIn(DecodeCases));
}  // namespace
