#include "ledger/Utf8Text.h"

namespace {
constexpr char Replacement[] = "\xEF\xBF\xBD";

// The length of the valid UTF-8 sequence at 'at', 0 when there is none.
std::size_t SequenceLength(const std::string& s, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b = byte(at);
    if (b >= 0x01 && b < 0x80) return 1;
    std::size_t n = 0;
    unsigned lowest = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        lowest = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        lowest = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (at + n > s.size()) return 0;
    unsigned code = b & (0xFFu >> (n + 1));
    for (std::size_t i = 1; i < n; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3Fu);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return n;
}
}  // namespace

std::string ValidUtf8(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = SequenceLength(text, at);
        if (n == 0) {
            out += Replacement;
            ++at;
        } else {
            out.append(text, at, n);
            at += n;
        }
    }
    return out;
}
