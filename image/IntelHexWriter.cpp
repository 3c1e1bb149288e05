#include "image/IntelHexWriter.h"

#include <algorithm>

#include "link/ImageBuffer.h"

namespace {
constexpr int32_t RecordBytes = 16;
constexpr int32_t SegmentBytes = 0x10000;
constexpr char Digits[] = "0123456789ABCDEF";

void AppendRecord(std::string& out, unsigned address, unsigned type, const uint8_t* data,
                  int32_t count) {
    unsigned sum = static_cast<unsigned>(count) + (address >> 8) + (address & 0xFF) + type;
    const auto hex = [&out](unsigned byte) {
        out += Digits[(byte >> 4) & 0xF];
        out += Digits[byte & 0xF];
    };
    out += ':';
    hex(static_cast<unsigned>(count));
    hex(address >> 8);
    hex(address & 0xFF);
    hex(type);
    for (int32_t i = 0; i < count; ++i) {
        hex(data[i]);
        sum += data[i];
    }
    hex((0x100 - (sum & 0xFF)) & 0xFF);
    out += '\n';
}

bool Blank(const uint8_t* data, int32_t count) {
    return std::all_of(data, data + count, [](uint8_t b) { return b == isp::Blank; });
}
}  // namespace

std::string IntelHexText(const uint8_t* bytes, int32_t size, bool skipBlank) {
    std::string out;
    out.reserve(static_cast<std::size_t>(std::max(size, 0)) * 3 + 16);
    int32_t segmentWritten = 0;  // the upper address bits the reader assumes at the start
    for (int32_t at = 0; at < size; at += RecordBytes) {
        const int32_t count = std::min(RecordBytes, size - at);
        if (skipBlank && Blank(bytes + at, count)) continue;
        const int32_t segment = at / SegmentBytes;
        if (segment != segmentWritten) {
            const uint8_t upper[] = {static_cast<uint8_t>(segment >> 8),
                                     static_cast<uint8_t>(segment & 0xFF)};
            AppendRecord(out, 0, 4, upper, 2);
            segmentWritten = segment;
        }
        AppendRecord(out, static_cast<unsigned>(at % SegmentBytes), 0, bytes + at, count);
    }
    AppendRecord(out, 0, 1, nullptr, 0);
    return out;
}
