#pragma once
// The check value a programmed application carries in its last two bytes: CRC-16/XMODEM
// (polynomial 0x1021, initial 0, no reflection, no final XOR), stored low byte first.

#include <cstddef>
#include <cstdint>

// CRC-16/XMODEM of 'count' bytes; 0x31C3 over the ASCII digits "123456789".
uint16_t CheckValueOf(const uint8_t* data, std::size_t count);

// Makes flashImage (isp::FlashImageSize bytes) carry the check value of bytes 0 to length - 3
// in bytes length - 2 (low byte) and length - 1 (high byte); for a length of 2 or less the
// value 0 goes into bytes 0 and 1. Returns true when it wrote the value, false when the image
// already held it. A length above isp::FlashImageSize raises errImageLength and touches
// nothing.
bool StampCheckValue(uint8_t* flashImage, uint32_t length);

// The value as stored by StampCheckValue for this length (low byte first).
uint16_t StoredCheckValue(const uint8_t* flashImage, uint32_t length);
