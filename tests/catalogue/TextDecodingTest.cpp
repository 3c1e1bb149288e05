#include "catalogue/TextDecoding.h"

#include <gtest/gtest.h>

namespace {
using namespace std::string_literals;

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
    {"UTF-16 LE by its mark", "\xFF\xFEG\0r\0\xF6\0\xDF\0e\0\xAC\x20"s, "Größe€"},
    {"UTF-16 BE by its mark", "\xFE\xFF\0G\0r\0\xF6\0\xDF\0e\x20\xAC"s, "Größe€"},
    {"UTF-16 surrogate pair", "\xFF\xFE\x3D\xD8\x0C\xDD"s, "\xF0\x9F\x94\x8C"},
    {"UTF-16 byte-order mark alone", "\xFF\xFE", ""},
    {"UTF-16 lone high surrogate",
     "\xFF\xFE\x3D\xD8"
     "a\0"s,
     "\xEF\xBF\xBD"
     "a"},
    {"UTF-16 high surrogate at the end",
     "\xFF\xFE"
     "a\0\x3D\xD8"s,
     "a\xEF\xBF\xBD"},
    {"UTF-16 lone low surrogate", "\xFE\xFF\xDC\x0C\0a"s,
     "\xEF\xBF\xBD"
     "a"},
    {"UTF-16 odd last byte",
     "\xFF\xFE"
     "a\0b"s,
     "a\xEF\xBF\xBD"},
    {"UTF-16 NUL stays a character",
     "\xFF\xFE"
     "a\0\0\0"s,
     "a\0"s},
    {"UTF-16 without a mark is not recognised", "a\0b\0"s, "a\0b\0"s},
    {"UTF-8 mark before bytes that are not UTF-8", "\xEF\xBB\xBFGr\xF6\xC3\xB6",
     "Gr\xEF\xBF\xBD\xC3\xB6"},
};

INSTANTIATE_TEST_SUITE_P(Catalogue, Decoding, testing::ValuesIn(DecodeCases));
}  // namespace
