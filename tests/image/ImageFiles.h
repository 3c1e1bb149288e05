#pragma once
// Helpers of the image tests: a private temporary folder, Intel HEX records with their
// checksums, and an expected flash image.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "link/ImageBuffer.h"
#include "link/ProgError.h"
#include "tests/support/FreshFolder.h"

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir() {
        Root = MakeFreshFolder("q40image-");
        if (Root.empty()) std::abort();
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(Root, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string Path(const std::string& name) const { return (Root / name).string(); }

    std::string Write(const std::string& name, const std::string& content) const {
        const std::string path = Path(name);
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        return Write(name, std::string(bytes.begin(), bytes.end()));
    }

private:
    std::filesystem::path Root;
};

inline std::string HexByte(unsigned v) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[(v >> 4) & 0xF], digits[v & 0xF]};
}

// One record line; 'checksumError' is added to the correct checksum byte.
inline std::string Record(unsigned type, unsigned address, const std::vector<uint8_t>& data,
                          int checksumError = 0) {
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    std::string line = ":" + HexByte(static_cast<unsigned>(data.size())) + HexByte(address >> 8) +
                       HexByte(address) + HexByte(type);
    for (uint8_t b : data) {
        line += HexByte(b);
        sum += b;
    }
    return line + HexByte((0x100 - (sum & 0xFF) + static_cast<unsigned>(checksumError)) & 0xFF) +
           "\n";
}
inline std::string Data(unsigned address, const std::vector<uint8_t>& data, int checksumError = 0) {
    return Record(0, address, data, checksumError);
}
inline std::string Segment(unsigned segment, int checksumError = 0) {
    return Record(2, 0, {static_cast<uint8_t>(segment >> 8), static_cast<uint8_t>(segment)},
                  checksumError);
}
inline std::string LinearAddress(unsigned upper) {
    return Record(4, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)});
}
inline const std::string EndOfFile = ":00000001FF\n";

inline std::vector<uint8_t> Bytes(std::size_t count, uint8_t first = 0) {
    std::vector<uint8_t> v(count);
    for (std::size_t i = 0; i < count; ++i) v[i] = static_cast<uint8_t>(first + i);
    return v;
}

// Pseudo-random bytes, the same on every run.
inline std::vector<uint8_t> NoiseBytes(std::size_t count, uint32_t state = 12345) {
    std::vector<uint8_t> v(count);
    for (auto& b : v) {
        state = state * 1103515245u + 12345u;
        b = static_cast<uint8_t>(state >> 16);
    }
    return v;
}

using Placed = std::vector<std::pair<int32_t, std::vector<uint8_t>>>;

// A flash image of 0xFF with the given bytes at their addresses.
inline std::vector<uint8_t> ExpectedImage(const Placed& placed) {
    std::vector<uint8_t> image(isp::FlashImageSize, isp::Blank);
    for (const auto& [address, bytes] : placed)
        for (std::size_t i = 0; i < bytes.size(); ++i) image[address + i] = bytes[i];
    return image;
}

// Index of the first difference, or -1.
inline long FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i]) return static_cast<long>(i);
    return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()));
}

inline bool HaveTool(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}
