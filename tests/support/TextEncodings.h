#pragma once
// A catalogue's text in the encodings editors save it in, made from UTF-8 for the tests.

#include <cstdlib>
#include <string>
#include <vector>

namespace textenc {

// The code points of well-formed UTF-8.
inline std::vector<char32_t> CodePoints(const std::string& utf8) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k)
            cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out.push_back(cp);
        i += static_cast<std::size_t>(length);
    }
    return out;
}

inline std::string Utf16(const std::string& utf8, bool bigEndian, bool byteOrderMark = true) {
    std::string out;
    const auto unit = [&](char32_t u) {
        const char high = static_cast<char>(u >> 8), low = static_cast<char>(u & 0xFF);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
    };
    if (byteOrderMark) unit(0xFEFF);
    for (const char32_t cp : CodePoints(utf8)) {
        if (cp < 0x10000) {
            unit(cp);
        } else {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
    }
    return out;
}

// Only characters of Latin-1 and the euro sign; anything else is a mistake in the test.
inline std::string Windows1252(const std::string& utf8) {
    std::string out;
    for (const char32_t cp : CodePoints(utf8)) {
        if (cp == 0x20AC) {
            out += '\x80';
        } else if (cp < 0x80 || (cp >= 0xA0 && cp < 0x100)) {
            out += static_cast<char>(cp);
        } else {
            std::abort();
        }
    }
    return out;
}

}  // namespace textenc
