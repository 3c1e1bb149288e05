#pragma once
// SHA-256 of a block of bytes, by the system's OpenSSL, as lower-case hex.

#include <cstddef>
#include <cstdint>
#include <string>

std::string Sha256Hex(const uint8_t* bytes, std::size_t count);
