#pragma once
// Numbers go to the box high byte first; these cut out one byte of them.

#include <cstdint>

inline uint8_t Lo8(int32_t v) {
    return static_cast<uint8_t>(v & 0xFF);
}
inline uint8_t Mid8(int32_t v) {
    return static_cast<uint8_t>((v >> 8) & 0xFF);
}
inline uint8_t Hi8(int32_t v) {
    return static_cast<uint8_t>((v >> 16) & 0xFF);
}
