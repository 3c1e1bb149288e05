// The Intel HEX reader on arbitrary text: it may fail, but only with its own failure codes,
// never writes outside its buffer, reports a size within the limit, and leaves every byte at
// or beyond that size (that no record wrote) as 0xFF.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "image/CheckValue.h"
#include "image/FirmwareId.h"
#include "image/ImageLoader.h"
#include "image/IntelHexReader.h"
#include "link/ImageBuffer.h"

namespace {
// A small limit, where the fuzzer reaches the buffer's end easily.
constexpr int32_t Small = 64;

// The buffers are allocated once with their exact lengths, so that the address sanitizer sees
// a byte beyond them; the reader fills them anew for every input.
int32_t Load(const char* text, std::size_t length, uint8_t* buffer, int32_t limit) {
    try {
        const int32_t size = ReadIntelHexText(text, length, buffer, limit, "fuzz.hex");
        if (size < 0 || size > limit) std::abort();
        return size;
    } catch (const EProgError& e) {
        if (e.Code != errAddressRange && e.Code != errHexChecksum && e.Code != errHexSyntax)
            std::abort();
        if (e.Detail.compare(0, 15, "File: fuzz.hex,") != 0) std::abort();
        return -1;
    }
}

// The reader fed as a file is read: pieces of a few bytes, each cut after its last line end.
// Must give the same size or failure, and the same bytes, as the whole text at once.
void CheckPieces(const char* text, std::size_t length, int32_t wholeSize, const uint8_t* whole,
                 int32_t limit) {
    static uint8_t* const image = new uint8_t[Small];
    int32_t size = -1;
    try {
        IntelHexReader reader(image, limit, "fuzz.hex");
        const auto isLineEnd = [](char c) { return c == '\n' || c == '\r'; };
        std::size_t at = 0;
        while (at < length) {
            std::size_t end = std::min(length, at + 7);
            if (end < length) {
                std::size_t cut = end;
                while (cut > at && !isLineEnd(text[cut - 1])) --cut;
                if (cut > at)
                    end = cut;
                else  // no line end yet: a longer piece
                    while (end < length && !isLineEnd(text[end - 1])) ++end;
            }
            reader.Feed(text + at, end - at, end == length);
            at = end;
        }
        if (length == 0) reader.Feed(text, 0, true);
        size = reader.Size();
    } catch (const EProgError&) {
        size = -1;
    }
    if (size != wholeSize) std::abort();
    for (int32_t i = 0; i < limit; ++i)
        if (image[i] != whole[i]) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);

    static uint8_t* const small = new uint8_t[Small];
    const int32_t smallSize = Load(text, size, small, Small);
    CheckPieces(text, size, smallSize, small, Small);
    if (smallSize >= 0) {
        for (int32_t i = smallSize; i < Small; ++i)
            if (small[i] != isp::Blank) std::abort();
    }

    // The real flash image, then what the programming run and the main window do with it.
    static uint8_t* const flash = new uint8_t[isp::FlashImageSize];
    const int32_t flashSize = Load(text, size, flash, isp::FlashImageSize);
    if (smallSize >= 0 && flashSize != smallSize) std::abort();
    if (flashSize >= 0) {
        FindFirmwareId(flash, flashSize, "Q40+1", isp::FlashImageSize);
        StampCheckValue(flash, static_cast<uint32_t>(flashSize));
    }
    return 0;
}
