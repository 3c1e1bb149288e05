#include "image/IntelHexReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "link/ImageBuffer.h"
#include "link/ProgError.h"

namespace {
// Value of a hex digit, NoDigit for any other character.
constexpr uint8_t NoDigit = 0xFF;
constexpr std::array<uint8_t, 256> MakeHexTable() {
    std::array<uint8_t, 256> t{};
    for (int c = 0; c < 256; ++c) {
        t[c] = NoDigit;
        if (c >= '0' && c <= '9') t[c] = static_cast<uint8_t>(c - '0');
        if (c >= 'A' && c <= 'F') t[c] = static_cast<uint8_t>(c - 'A' + 10);
        if (c >= 'a' && c <= 'f') t[c] = static_cast<uint8_t>(c - 'a' + 10);
    }
    return t;
}
constexpr std::array<uint8_t, 256> HexValue = MakeHexTable();

constexpr int RecordData = 0;
constexpr int RecordSegment = 2;        // extended segment address: base = value * 16
constexpr int RecordLinearAddress = 4;  // extended linear address: base = value << 16
}  // namespace

IntelHexReader::IntelHexReader(uint8_t* buffer, int32_t limit, std::string name)
    : Buffer(buffer), Limit(std::max<int32_t>(limit, 0)), Name(std::move(name)) {
    std::memset(Buffer, isp::Blank, static_cast<std::size_t>(Limit));
}

void IntelHexReader::Feed(const char* text, std::size_t length, bool last) {
    Begin = P = text;
    End = text + length;
    (void)last;  // only the text's end cuts a record off, and it ends every piece anyway
    for (;;) {
        // Everything up to the next ":" is skipped, the rest of ignored records included.
        const void* colon =
            length > 0 ? std::memchr(P, ':', static_cast<std::size_t>(End - P)) : nullptr;
        if (!colon) break;
        RecordStart = static_cast<const char*>(colon);
        P = RecordStart + 1;

        const int count = NextByte();
        const int addressHigh = NextByte();
        const int addressLow = NextByte();
        const int type = NextByte();
        unsigned sum = static_cast<unsigned>(count + addressHigh + addressLow + type);

        if (type == RecordData) {
            int64_t address = LinearBase + SegmentBase + int64_t{addressHigh} * 256 + addressLow;
            for (int i = 0; i < count; ++i) {
                const int value = NextByte();
                sum += static_cast<unsigned>(value);
                if (address >= Limit) Fail(errAddressRange, "");
                Buffer[address] = static_cast<uint8_t>(value);
                ++address;
                if (address > Highest) Highest = static_cast<int32_t>(address);
            }
        } else if (type == RecordSegment || type == RecordLinearAddress) {
            // Always two bytes, high first, whatever the byte count says.
            const int high = NextByte();
            const int low = NextByte();
            sum += static_cast<unsigned>(high + low);
            const int64_t value = high * 256 + low;
            if (type == RecordSegment)
                SegmentBase = value * 16;
            else
                LinearBase = value << 16;
        } else {
            continue;
        }
        sum += static_cast<unsigned>(NextByte());
        if ((sum & 0xFF) != 0) Fail(errHexChecksum, "");
    }
    LinesBefore += LineEndsBefore(End);
    PendingCr = length > 0 ? End[-1] == '\r' : PendingCr;
}

int IntelHexReader::NextByte() {
    if (End - P < 2) {
        // A character that is no digit breaks the record wherever the piece ends; only the
        // text's end itself can cut a record off.
        if (P < End && HexValue[static_cast<uint8_t>(*P)] == NoDigit)
            Fail(errHexSyntax, ": not a hexadecimal digit");
        P = RecordStart;
        Fail(errHexSyntax, ": the file ends inside a record");
    }
    const int high = HexValue[static_cast<uint8_t>(P[0])];
    const int low = HexValue[static_cast<uint8_t>(P[1])];
    if (high == NoDigit || low == NoDigit) {
        if (high != NoDigit) ++P;
        Fail(errHexSyntax, ": not a hexadecimal digit");
    }
    P += 2;
    return high * 16 + low;
}

// Names the file and the line: that of the character that is not hex, or of the record that
// the file cuts off, is out of range or does not add up.
void IntelHexReader::Fail(int32_t code, const char* what) const {
    const char* at = code == errHexSyntax ? P : RecordStart;
    throw EProgError(code, "File: " + Name + ", line " + std::to_string(LineOf(at)) + what);
}

long IntelHexReader::LineOf(const char* at) const {
    return 1 + LinesBefore + LineEndsBefore(at);
}

// Line ends in the piece before 'at': LF, CR LF or a lone CR, as tools and editors of every
// kind write them. A CR at the piece's end counts at once; an LF that follows it at the start
// of the next piece does not count again.
long IntelHexReader::LineEndsBefore(const char* at) const {
    long ends = 0;
    for (const char* c = Begin; c < at; ++c) {
        if (*c == '\n')
            ends += !(c == Begin && PendingCr);
        else if (*c == '\r')
            ends += c + 1 == End || c[1] != '\n';
    }
    return ends;
}
