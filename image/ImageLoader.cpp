#include "image/ImageLoader.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>
#include <vector>

#include "image/FirmwareFile.h"
#include "image/IntelHexReader.h"
#include "link/ImageBuffer.h"
#include "platform/MappedPages.h"

namespace {

// The HEX file is read in pieces of about this size, each cut after its last line end: small
// enough to stay in the processor's cache, so that reading costs no more than mapping the file.
constexpr std::size_t HexPieceBytes = std::size_t{64} * 1024;

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\' || c == ':';
#else
    return c == '/';
#endif
}

}  // namespace

int32_t ReadIntelHexText(const char* text, std::size_t length, uint8_t* buffer, int32_t limit,
                         const std::string& name) {
    IntelHexReader reader(buffer, limit, name);
    reader.Feed(text, length, true);
    return reader.Size();
}

int32_t ReadIntelHex(const std::string& path, uint8_t* buffer, int32_t limit) {
    return ReadIntelHexInPieces(path, buffer, limit, HexPieceBytes);
}

int32_t ReadIntelHexInPieces(const std::string& path, uint8_t* buffer, int32_t limit,
                             std::size_t pieceBytes) {
    FirmwareFile file(path, MaxFirmwareFileBytes);
    IntelHexReader reader(buffer, limit, path);
    std::vector<char> piece(std::max<std::size_t>(pieceBytes, 1));
    std::size_t held = 0, total = 0;
    try {
        for (;;) {
            const std::size_t got = file.Read(piece.data() + held, piece.size() - held);
            total += got;
            held += got;
            if (held < piece.size()) {  // the file's end
                reader.Feed(piece.data(), held, true);
                break;
            }
            const auto lineEnd = std::find_if(piece.rbegin(), piece.rend(),
                                              [](char c) { return c == '\n' || c == '\r'; });
            if (lineEnd == piece.rend()) {  // a line longer than the piece: take more at once
                piece.resize(piece.size() * 2);
                continue;
            }
            const auto cut = static_cast<std::size_t>(piece.rend() - lineEnd);
            reader.Feed(piece.data(), cut, false);
            std::memmove(piece.data(), piece.data() + cut, held - cut);
            held -= cut;
        }
    } catch (const EProgError&) {
        // A file rewritten under the reader says so, rather than what the mix looked like.
        if (!file.StillAsOpened()) file.RequireUnchanged(file.Size(), total);
        throw;
    }
    file.RequireUnchanged(file.Size(), total);
    return reader.Size();
}

int32_t ReadBinary(const std::string& path, uint8_t* buffer, int32_t limit) {
    const auto count = static_cast<std::size_t>(std::max<int32_t>(limit, 0));
    std::memset(buffer, isp::Blank, count);
    return static_cast<int32_t>(ReadFilePrefix(path, buffer, count));
}

bool HasBinaryExtension(const std::string& path) {
    std::size_t nameStart = path.size();
    while (nameStart > 0 && !IsSeparator(path[nameStart - 1])) --nameStart;
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart) return false;
    const std::string_view ext(path.c_str() + dot, path.size() - dot);
    static constexpr std::string_view bin = ".bin";
    return ext.size() == bin.size() &&
           std::equal(ext.begin(), ext.end(), bin.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

int32_t LoadFlashFile(const std::string& path, uint8_t* flashImage) {
    if (HasBinaryExtension(path)) return ReadBinary(path, flashImage, isp::FlashImageSize);
    return ReadIntelHex(path, flashImage, isp::FlashImageSize);
}

FlashImageBuffer::FlashImageBuffer() {
    void* map = MapPages(isp::FlashImageSize);
    Mapped = map != nullptr;
    Bytes = Mapped ? static_cast<uint8_t*>(map) : new uint8_t[isp::FlashImageSize];
}

FlashImageBuffer::~FlashImageBuffer() {
    if (Mapped) {
        UnmapPages(Bytes, isp::FlashImageSize);
    } else {
        delete[] Bytes;
    }
}
