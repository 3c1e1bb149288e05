// The Intel HEX reader on small fixtures: one table, each row a file, the size or failure it
// gives, and every byte of the flash image afterwards.
#include <gtest/gtest.h>

#include <optional>

#include "image/ImageLoader.h"
#include "tests/image/ImageFiles.h"

namespace {

constexpr int32_t NoFailure = -1;

struct HexCase {
    const char* Name;
    std::string Text;
    int32_t Size;        // when no failure
    int32_t Code;        // NoFailure or the failure code
    const char* Detail;  // a part of the failure's detail
    Placed Bytes;        // what the image holds besides 0xFF, also after a failure
};

std::vector<HexCase> Cases() {
    const auto sixteen = Bytes(16, 0x40);
    return {
        {"empty file", "", 0, NoFailure, "", {}},
        {"only an end-of-file record", EndOfFile, 0, NoFailure, "", {}},
        {"one data record",
         Data(0x0100, {1, 2, 3}) + EndOfFile,
         0x103,
         NoFailure,
         "",
         {{0x100, {1, 2, 3}}}},
        {"lower-case digits",
         ":03010000a0b0c0ec\n",
         0x103,
         NoFailure,
         "",
         {{0x100, {0xA0, 0xB0, 0xC0}}}},
        {"CR LF line ends and text between records",
         "header\r\n" + Data(0, {9}) + "\r\n junk \r\n" + Data(1, {8}),
         2,
         NoFailure,
         "",
         {{0, {9, 8}}}},
        {"segment 0x3000 with address 0xFFF0 loads at 0x3FFF0",
         Segment(0x3000) + Data(0xFFF0, {1, 2, 3, 4}) + EndOfFile,
         0x3FFF4,
         NoFailure,
         "",
         {{0x3FFF0, {1, 2, 3, 4}}}},
        {"last byte at 0x3FFFF gives size 0x40000",
         Segment(0x3000) + Data(0xFFF0, sixteen),
         0x40000,
         NoFailure,
         "",
         {{0x3FFF0, sixteen}}},
        {"segment 0x4000 at address 0 fails at its first byte",
         Data(0, {7}) + Segment(0x4000) + Data(0x0000, {1, 2}) + EndOfFile,
         0,
         errAddressRange,
         "line 3",
         {{0, {7}}}},
        {"a record running past 0x3FFFF keeps the bytes below",
         Segment(0x3000) + Data(0xFFFE, {1, 2, 3, 4}),
         0,
         errAddressRange,
         "line 2",
         {{0x3FFFE, {1, 2}}}},
        {"addresses run on past 0xFFFF inside one record",
         Data(0xFFFC, {1, 2, 3, 4, 5, 6}),
         0x10002,
         NoFailure,
         "",
         {{0xFFFC, {1, 2, 3, 4, 5, 6}}}},
        {"records out of order: size from the highest address",
         Data(0x0200, {1, 2}) + Data(0x0000, {3, 4, 5}) + EndOfFile,
         0x202,
         NoFailure,
         "",
         {{0x200, {1, 2}}, {0, {3, 4, 5}}}},
        {"records after the end-of-file record still load",
         Data(0, {1}) + EndOfFile + Data(0x10, {2}),
         0x11,
         NoFailure,
         "",
         {{0, {1}}, {0x10, {2}}}},
        // Extended linear address records, as most tools write images above 64 KB.
        {"type 4 sets the upper 16 address bits",
         LinearAddress(0x0002) + Data(0x0020, {5}),
         0x20021,
         NoFailure,
         "",
         {{0x20020, {5}}}},
        {"type 4 and type 2 bases add",
         Segment(0x1000) + LinearAddress(0x0001) + Data(0x0010, {1, 2}),
         0x20012,
         NoFailure,
         "",
         {{0x20010, {1, 2}}}},
        {"type 4 stays in force after a later type 2 and back",
         LinearAddress(0x0001) + Data(0, {1}) + Segment(0x2000) + Data(0, {2}) + Segment(0) +
             Data(1, {3}) + LinearAddress(0) + Data(2, {4}),
         0x30001,
         NoFailure,
         "",
         {{0x10000, {1, 3}}, {0x30000, {2}}, {2, {4}}}},
        {"type 4 reads two bytes whatever its count says",
         ":040000040001F7\n" + Data(0, {1}),
         0x10001,
         NoFailure,
         "",
         {{0x10000, {1}}}},
        {"last byte at 0x3FFFF through type 4",
         LinearAddress(0x0003) + Data(0xFFFF, {9}),
         0x40000,
         NoFailure,
         "",
         {{0x3FFFF, {9}}}},
        {"type 4 pointing at 0x40000 fails at the first byte",
         Data(0, {7}) + LinearAddress(0x0004) + Data(0, {1}),
         0,
         errAddressRange,
         "line 3",
         {{0, {7}}}},
        {"type 4 far beyond the flash fails, without wrapping round",
         LinearAddress(0xFFFF) + Segment(0xFFFF) + Data(0xFFFF, {1}),
         0,
         errAddressRange,
         "line 3",
         {}},
        {"type 4 alone, without data after it, loads nothing",
         Data(0, {1}) + LinearAddress(0x0010),
         1,
         NoFailure,
         "",
         {{0, {1}}}},
        {"bad checksum in a type 4 record",
         Data(0, {1}) + Record(4, 0, {0x00, 0x01}, 1) + Data(0, {2}),
         0,
         errHexChecksum,
         "line 2",
         {{0, {1}}}},
        {"types 3 and 5 are skipped",
         Record(3, 0, {0, 0, 0x12, 0x34}) + Record(5, 0, {0, 0, 0x12, 0x34}) + Data(0, {6}),
         1,
         NoFailure,
         "",
         {{0, {6}}}},
        {"ignored records are not checked",
         ":040000030000XYZ\n" + Data(0, {6}),
         1,
         NoFailure,
         "",
         {{0, {6}}}},
        {"a later record overwrites an earlier byte",
         Data(0, {1, 2, 3}) + Data(1, {9}),
         3,
         NoFailure,
         "",
         {{0, {1, 9, 3}}}},
        {"type 2 reads two bytes whatever its count says",
         ":040000021000EA\n" + Data(0, {1}),
         0x10001,
         NoFailure,
         "",
         {{0x10000, {1}}}},
        {"segment 0 after a segment goes back to the start",
         Segment(0x2000) + Data(0, {1}) + Segment(0) + Data(0, {2}),
         0x20001,
         NoFailure,
         "",
         {{0x20000, {1}}, {0, {2}}}},
        {"bad checksum keeps the bytes of its record",
         Data(0, {1, 2}) + Data(0x10, {3, 4}, 1) + Data(0x20, {5}),
         0,
         errHexChecksum,
         "line 2",
         {{0, {1, 2}}, {0x10, {3, 4}}}},
        {"bad checksum in a segment record",
         Segment(0x1000, 0x7F) + Data(0, {1}),
         0,
         errHexChecksum,
         "line 1",
         {}},
        // Malformed records: a failure naming the line, what came before stays.
        {"a field that is not two hex digits",
         Data(0, {1}) + ":02001000G1F2FB\n",
         0,
         errHexSyntax,
         "line 2: not a hexadecimal digit",
         {{0, {1}}}},
        {"a data byte that is not hex",
         Data(0, {1}) + "\n" + Data(0x10, {1, 2}).replace(11, 1, "z"),
         0,
         errHexSyntax,
         "line 3",
         {{0, {1}}, {0x10, {1}}}},
        {"CR-only line ends count in line numbers",
         ":0100000001FE\r\r:01000100XX\r",
         0,
         errHexSyntax,
         "line 3: not a hexadecimal digit",
         {{0, {1}}}},
        {"CR LF counts once, a lone CR and a lone LF once each",
         "\r\n\n\r" + Data(0, {1}, 1),
         0,
         errHexChecksum,
         "line 4",
         {{0, {1}}}},
        {"a record broken by a line end", ":0200\n000001020B\n", 0, errHexSyntax, "line 1", {}},
        {"file ends inside the header",
         Data(0, {1}) + ":0200",
         0,
         errHexSyntax,
         "line 2: the file ends inside a record",
         {{0, {1}}}},
        {"file ends inside the data",
         Data(0, {1}) + "\n:04001000AABB",
         0,
         errHexSyntax,
         "line 3: the file ends inside a record",
         {{0, {1}}, {0x10, {0xAA, 0xBB}}}},
        {"file ends before the checksum",
         ":0100000001",
         0,
         errHexSyntax,
         "the file ends inside a record",
         {{0, {1}}}},
        {"file ends after half a checksum",
         ":01000000010",
         0,
         errHexSyntax,
         "the file ends inside a record",
         {{0, {1}}}},
    };
}

class HexTable : public ::testing::Test {
protected:
    TempDir Dir;
};

TEST_F(HexTable, EveryCase) {
    for (const HexCase& c : Cases()) {
        SCOPED_TRACE(c.Name);
        const std::string path = Dir.Write("case.hex", c.Text);
        std::vector<uint8_t> image(isp::FlashImageSize, 0x5A);
        int32_t size = -1;
        std::optional<EProgError> failure;
        try {
            size = LoadFlashFile(path, image.data());
        } catch (const EProgError& e) {
            failure = e;
        }
        if (c.Code == NoFailure) {
            EXPECT_FALSE(failure) << failure->Code << " " << failure->Detail;
            EXPECT_EQ(size, c.Size);
        } else if (!failure) {
            ADD_FAILURE() << "no failure";
        } else {
            EXPECT_EQ(failure->Code, c.Code);
            EXPECT_EQ(failure->Detail.rfind("File: " + path + ", line ", 0), 0u) << failure->Detail;
            EXPECT_NE(failure->Detail.find(c.Detail), std::string::npos) << failure->Detail;
        }
        EXPECT_EQ(FirstDifference(image, ExpectedImage(c.Bytes)), -1);
    }
}

// What a load gives: the size, or the failure's code and detail, and the whole image.
struct LoadResult {
    int32_t Size = -1;
    int32_t Code = NoFailure;
    std::string Detail;
    std::vector<uint8_t> Image = std::vector<uint8_t>(isp::FlashImageSize, 0x5A);

    template <typename Load>
    explicit LoadResult(Load load) {
        try {
            Size = load(Image.data());
        } catch (const EProgError& e) {
            Code = e.Code;
            Detail = e.Detail;
        }
    }
};

// A file is read in pieces cut after line ends; whatever the pieces, the result is that of the
// whole text at once. Tiny pieces put every cut where a record, a CR LF or a line meets one.
TEST_F(HexTable, PiecesGiveWhatTheWholeTextGives) {
    std::vector<std::pair<std::string, std::string>> texts;
    for (const HexCase& c : Cases()) texts.emplace_back(c.Name, c.Text);
    texts.emplace_back("records without line ends", Data(0, {1, 2}) + Data(2, {3}) + Data(3, {4}));
    texts.emplace_back("CR LF and lone CR around a bad record",
                       Data(0, {1}) + "\r\n\r" + Data(1, {2}).replace(9, 1, "x") + "\r\n");
    texts.emplace_back("a CR before a piece's end", "\r\r\n\n\r" + Data(0, {1}, 1));
    for (const auto& [name, content] : texts) {
        SCOPED_TRACE(name);
        const std::string& text = content;  // a lambda may not capture a structured binding
        const std::string path = Dir.Write("case.hex", text);
        const LoadResult whole([&](uint8_t* image) {
            return ReadIntelHexText(text.data(), text.size(), image, isp::FlashImageSize, path);
        });
        for (const std::size_t pieceBytes : {1, 2, 3, 5, 8, 13, 40}) {
            SCOPED_TRACE(pieceBytes);
            const LoadResult pieces([&](uint8_t* image) {
                return ReadIntelHexInPieces(path, image, isp::FlashImageSize, pieceBytes);
            });
            EXPECT_EQ(pieces.Size, whole.Size);
            EXPECT_EQ(pieces.Code, whole.Code);
            EXPECT_EQ(pieces.Detail, whole.Detail);
            EXPECT_EQ(FirstDifference(pieces.Image, whole.Image), -1);
        }
    }
}

TEST(HexText, LimitIsTheBuffersLength) {
    std::vector<uint8_t> buffer(16, 0);
    const std::string ok = Data(0, Bytes(16));
    EXPECT_EQ(ReadIntelHexText(ok.data(), ok.size(), buffer.data(), 16, "x"), 16);
    const std::string over = Data(8, Bytes(9));
    try {
        ReadIntelHexText(over.data(), over.size(), buffer.data(), 16, "x");
        ADD_FAILURE() << "no failure";
    } catch (const EProgError& e) {
        EXPECT_EQ(e.Code, errAddressRange);
    }
    EXPECT_EQ(buffer[15], 7);  // stored before the failure
}

TEST(HexText, TheFixedTextAndTheDetailStayApart) {
    const std::string text = Data(0, {1}) + Data(1, {2}, 3);
    std::vector<uint8_t> image(isp::FlashImageSize);
    try {
        ReadIntelHexText(text.data(), text.size(), image.data(), isp::FlashImageSize, "/fw/x.hex");
        ADD_FAILURE() << "no failure";
    } catch (const EProgError& e) {
        EXPECT_EQ(GetErrorText(e.Code), "Error loading hex file. (Bad checksum)");
        EXPECT_EQ(e.Detail, "File: /fw/x.hex, line 2");
    }
}

}  // namespace
