#include "image/CheckValue.h"

#include <array>
#include <cstdio>
#include <string>

#include "link/ImageBuffer.h"
#include "link/ProgError.h"

namespace {
constexpr uint16_t Polynomial = 0x1021;
constexpr int Slices = 8;
using Table = std::array<uint16_t, 256>;

// Tables[0][i] is the CRC of the single byte i. Tables[k][i] is the CRC of byte i followed by
// k zero bytes: what byte i contributes when k more bytes follow it, so that eight bytes can
// be taken at once with independent lookups (the result is that of one table, byte by byte).
constexpr std::array<Table, Slices> MakeTables() {
    std::array<Table, Slices> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ Polynomial : crc << 1;
        t[0][i] = static_cast<uint16_t>(crc);
    }
    for (int k = 1; k < Slices; ++k)
        for (unsigned i = 0; i < 256; ++i)
            t[k][i] = static_cast<uint16_t>((t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 8]);
    return t;
}
constexpr std::array<Table, Slices> Tables = MakeTables();
static_assert(Tables[0][1] == 0x1021 && Tables[0][2] == 0x2042);

// Where the two value bytes lie: length - 2 and length - 1, or 0 and 1 for short lengths.
uint32_t ValueOffset(uint32_t length) {
    return length > 2 ? length - 2 : 0;
}

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(v));
    return text;
}
}  // namespace

uint16_t CheckValueOf(const uint8_t* data, std::size_t count) {
    const Table& t0 = Tables[0];
    unsigned crc = 0;
    for (; count >= Slices; count -= Slices, data += Slices) {
        crc = Tables[7][data[0] ^ (crc >> 8)] ^ Tables[6][data[1] ^ (crc & 0xFF)] ^
              Tables[5][data[2]] ^ Tables[4][data[3]] ^ Tables[3][data[4]] ^ Tables[2][data[5]] ^
              Tables[1][data[6]] ^ t0[data[7]];
    }
    for (; count > 0; --count, ++data)
        crc = t0[((crc >> 8) ^ *data) & 0xFF] ^ ((crc << 8) & 0xFFFF);
    return static_cast<uint16_t>(crc);
}

uint16_t StoredCheckValue(const uint8_t* flashImage, uint32_t length) {
    const uint32_t at = ValueOffset(length);
    return static_cast<uint16_t>(flashImage[at] | flashImage[at + 1] << 8);
}

bool StampCheckValue(uint8_t* flashImage, uint32_t length) {
    if (length > static_cast<uint32_t>(isp::FlashImageSize)) {
        throw EProgError(errImageLength, "length " + std::to_string(length) + " = " + Hex(length) +
                                             "; the flash image holds " + Hex(isp::FlashImageSize) +
                                             " bytes");
    }
    const uint32_t at = ValueOffset(length);
    const uint16_t value = CheckValueOf(flashImage, at);
    if (StoredCheckValue(flashImage, length) == value) return false;
    flashImage[at] = static_cast<uint8_t>(value & 0xFF);
    flashImage[at + 1] = static_cast<uint8_t>(value >> 8);
    return true;
}
