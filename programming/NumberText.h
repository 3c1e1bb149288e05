#pragma once
// Numbers in the catalogue: optional leading blanks and sign, then decimal digits, or
// hexadecimal digits after "$", "0x", "0X", "x" or "X"; nothing may follow.

#include <cstdint>
#include <optional>
#include <string>

// The value, or nothing when the text is no number in 32 bits.
std::optional<int32_t> ParseNumber(const std::string& text);
