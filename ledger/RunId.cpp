#include "ledger/RunId.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <random>

std::string NewRunId() {
    std::random_device source;  // getrandom() on Linux
    std::array<unsigned char, 16> b{};
    for (std::size_t i = 0; i < b.size(); i += 4) {
        const unsigned value = source();
        for (std::size_t k = 0; k < 4; ++k) b[i + k] = static_cast<unsigned char>(value >> (8 * k));
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

bool IsRunId(const std::string& text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}
