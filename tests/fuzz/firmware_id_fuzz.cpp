// The identifier search on arbitrary images and patterns: no read outside the buffer, and the
// result of the plain rule (last match wins, text up to a zero byte or the buffer's end).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "image/FirmwareId.h"

// Input: one byte pattern length (0 to 15), the pattern, one byte for the searched size
// relative to the buffer, then the buffer itself.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t patternLength = std::min<std::size_t>(data[0] & 0x0F, size - 2);
    const std::string pattern(reinterpret_cast<const char*>(data + 1), patternLength);
    const uint8_t sizeByte = data[1 + patternLength];
    const std::size_t bufferLength = size - 2 - patternLength;

    // The buffer on the heap with its exact length, so that any read beyond it is seen.
    const auto buffer = std::make_unique<uint8_t[]>(bufferLength);
    if (bufferLength) std::memcpy(buffer.get(), data + 2 + patternLength, bufferLength);
    const auto length = static_cast<int32_t>(bufferLength);
    // Sizes below, at and beyond the buffer's length, and negative ones.
    const int32_t searched = static_cast<int32_t>(sizeByte) - 128 + length;

    const std::string found = FindFirmwareId(buffer.get(), searched, pattern, length);

    // The same by the plain rule: the text at the last start before the searched size whose
    // five bytes lie in the buffer and match, up to a zero byte or the buffer's end.
    const auto* bytes = reinterpret_cast<const char*>(buffer.get());
    int32_t last = -1;
    for (int32_t i = 0; i < searched && i + 5 <= length; ++i)
        if (MatchFirmwareId(std::string_view(bytes + i, 5), pattern)) last = i;
    std::string expected;
    if (last >= 0) {
        for (int32_t i = last; i < length && bytes[i] != 0; ++i) expected += bytes[i];
    }
    if (found != expected) std::abort();
    if (pattern.size() < 5 && !found.empty()) std::abort();
    return 0;
}
