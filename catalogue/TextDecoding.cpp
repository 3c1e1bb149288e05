#include "catalogue/TextDecoding.h"

#include <cstdint>

namespace {
constexpr std::string_view Utf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view Utf16LeByteOrderMark = "\xFF\xFE";
constexpr std::string_view Utf16BeByteOrderMark = "\xFE\xFF";
constexpr char32_t ReplacementCharacter = 0xFFFD;

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Windows-1252 0x80..0x9F; the five unassigned bytes keep their C1 control code point, so
// every byte stays one character and none is lost or merged.
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// Length of the well-formed sequence starting at s[i], or 0.
std::size_t SequenceLength(std::string_view s, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char lead = at(0);
    if (lead < 0x80) return 1;
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
        if (lead == 0xE0) lo = 0xA0;  // overlong
        if (lead == 0xED) hi = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
        if (lead == 0xF0) lo = 0x90;  // overlong
        if (lead == 0xF4) hi = 0x8F;  // beyond U+10FFFF
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    if (at(1) < lo || at(1) > hi) return 0;
    for (std::size_t k = 2; k < len; ++k)
        if (!IsContinuation(at(k))) return 0;
    return len;
}

// UTF-8 form of one code point below U+10000, at most three bytes.
struct Utf8Form {
    char Bytes[3];
    unsigned char Length;
};

Utf8Form EncodeUtf8(char32_t cp) {
    if (cp < 0x80) return {{static_cast<char>(cp)}, 1};
    if (cp < 0x800)
        return {{static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))}, 2};
    return {{static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
             static_cast<char>(0x80 | (cp & 0x3F))},
            3};
}

struct Cp1252Table {
    Utf8Form Forms[256];
    Cp1252Table() {
        for (int b = 0; b < 256; ++b)
            Forms[b] = EncodeUtf8(b >= 0x80 && b <= 0x9F ? Cp1252High[b - 0x80] : char32_t(b));
    }
};

}  // namespace

std::string Windows1252ToUtf8(std::string_view bytes) {
    static const Cp1252Table table;
    constexpr std::size_t MaxUtf8PerByte = 3;
    std::string out(bytes.size() * MaxUtf8PerByte, '\0');
    char* p = out.data();
    for (const char ch : bytes) {
        const Utf8Form& f = table.Forms[static_cast<unsigned char>(ch)];
        for (unsigned char i = 0; i < f.Length; ++i) *p++ = f.Bytes[i];
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
    return out;
}

bool IsValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {  // most of a catalogue is ASCII
            ++i;
            continue;
        }
        const std::size_t len = SequenceLength(bytes, i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string Utf8WithReplacements(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t len = SequenceLength(bytes, i);
        if (len == 0) {
            AppendUtf8(out, ReplacementCharacter);
            ++i;
        } else {
            out.append(bytes.data() + i, len);
            i += len;
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    const auto unitAt = [&](std::size_t i) -> char32_t {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (first << 8 | second) : (second << 8 | first);
    };
    const auto isHigh = [](char32_t u) { return u >= 0xD800 && u <= 0xDBFF; };
    const auto isLow = [](char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        const char32_t unit = unitAt(i);
        if (isHigh(unit) && i + 3 < bytes.size() && isLow(unitAt(i + 2))) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00));
            i += 2;
        } else {
            AppendUtf8(out, isHigh(unit) || isLow(unit) ? ReplacementCharacter : unit);
        }
    }
    if (i < bytes.size()) AppendUtf8(out, ReplacementCharacter);  // half a code unit at the end
    return out;
}

CatalogueEncoding DetectCatalogueEncoding(std::string_view bytes) {
    if (StartsWith(bytes, Utf16LeByteOrderMark)) return CatalogueEncoding::Utf16Le;
    if (StartsWith(bytes, Utf16BeByteOrderMark)) return CatalogueEncoding::Utf16Be;
    if (IsValidUtf8(bytes)) return CatalogueEncoding::Utf8;
    if (StartsWith(bytes, Utf8ByteOrderMark)) return CatalogueEncoding::DamagedUtf8;
    return CatalogueEncoding::Windows1252;
}

std::string DecodeCatalogueText(std::string bytes) {
    const std::string_view view(bytes);
    switch (DetectCatalogueEncoding(view)) {
        case CatalogueEncoding::Utf8:
            if (StartsWith(view, Utf8ByteOrderMark)) bytes.erase(0, Utf8ByteOrderMark.size());
            return bytes;
        case CatalogueEncoding::DamagedUtf8:
            return Utf8WithReplacements(view.substr(Utf8ByteOrderMark.size()));
        case CatalogueEncoding::Utf16Le:
            return Utf16ToUtf8(view.substr(Utf16LeByteOrderMark.size()), false);
        case CatalogueEncoding::Utf16Be:
            return Utf16ToUtf8(view.substr(Utf16BeByteOrderMark.size()), true);
        case CatalogueEncoding::Windows1252:
            break;
    }
    return Windows1252ToUtf8(view);
}
