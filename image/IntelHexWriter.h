#pragma once
// Memory contents as Intel HEX text, for copies of what a device holds: data records of 16
// bytes, an extended linear address record (type 4) where the addresses pass a 64 KiB
// boundary, and the end-of-file record. The reader of this folder loads it back byte for byte.

#include <cstdint>
#include <string>

// The text of bytes[0 .. size - 1] at addresses 0 to size - 1. With 'skipBlank', a record
// whose bytes are all 0xFF is left out: a loader fills 0xFF where a file sets nothing.
std::string IntelHexText(const uint8_t* bytes, int32_t size, bool skipBlank);
