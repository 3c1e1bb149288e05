#include "image/FirmwareId.h"

#include <algorithm>
#include <cstring>

#include "image/ImageLoader.h"
#include "link/ImageBuffer.h"

bool MatchFirmwareId(std::string_view a, std::string_view b) {
    if (a.size() < FirmwareIdLength || b.size() < FirmwareIdLength) return false;
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2] && a[4] == b[4] &&
           (a[3] == BootloaderMarker) == (b[3] == BootloaderMarker);
}

std::string FindFirmwareId(const uint8_t* image, int32_t size, const std::string& pattern,
                           int32_t bufferLength) {
    const auto idLength = static_cast<int32_t>(FirmwareIdLength);
    if (pattern.size() < FirmwareIdLength || bufferLength < idLength) return {};
    const auto* bytes = reinterpret_cast<const char*>(image);
    // A start needs its five bytes inside the buffer.
    const int32_t lastStart = std::min(size, bufferLength - idLength + 1);
    // Backwards: the first match found is the last one in the image.
    for (int32_t i = lastStart - 1; i >= 0; --i) {
        if (bytes[i] != pattern[0]) continue;
        if (!MatchFirmwareId(std::string_view(bytes + i, FirmwareIdLength), pattern)) continue;
        const std::size_t room = static_cast<std::size_t>(bufferLength - i);
        const void* zero = std::memchr(bytes + i, 0, room);
        const std::size_t length =
            zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - (bytes + i)) : room;
        return std::string(bytes + i, length);
    }
    return {};
}

std::string ReadFirmwareId(const std::string& path, const std::string& pattern) {
    FlashImageBuffer flashImage;
    try {
        const int32_t size = LoadFlashFile(path, flashImage.Data());
        return FindFirmwareId(flashImage.Data(), size, pattern, isp::FlashImageSize);
    } catch (const EProgError&) {
        return {};
    }
}

std::string BootloaderPattern(const std::string& pattern) {
    if (pattern.size() < 4 || pattern[3] != '+') return {};
    std::string boot = pattern;
    boot[3] = BootloaderMarker;
    return boot;
}
