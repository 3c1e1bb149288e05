#include "programming/NumberText.h"

#include <cctype>

namespace {
int DigitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    return v < base ? v : -1;
}

bool StartsWith(const std::string& s, std::size_t at, const char* prefix) {
    return s.compare(at, std::char_traits<char>::length(prefix), prefix) == 0;
}
}  // namespace

std::optional<int32_t> ParseNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int base = 10;
    if (StartsWith(text, i, "0x") || StartsWith(text, i, "0X")) {
        base = 16;
        i += 2;
    } else if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        i += 1;
    }
    if (i == text.size()) return std::nullopt;
    // Hexadecimal may use all 32 bits ($FFFFFFFF is -1); decimal must fit a signed number.
    const uint64_t limit = base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const int d = DigitValue(text[i], base);
        if (d < 0) return std::nullopt;
        value = value * base + static_cast<uint64_t>(d);
        if (value > limit) return std::nullopt;
    }
    const auto bits = static_cast<uint32_t>(negative ? (~value + 1) : value);
    return static_cast<int32_t>(bits);
}
