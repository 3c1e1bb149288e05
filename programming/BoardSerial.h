#pragma once
// A board's serial number where its own EEPROM holds it: the catalogue's Serial_<k> beside
// the processor entry says "ADDR:LENGTH[:text|hex]" (ADDR and LENGTH decimal, or hex after
// 0x or $). It is taken from the EEPROM the update reads anyway, so nothing extra is sent.

#include <cstdint>
#include <optional>
#include <string>

struct SerialLocation {
    int32_t Address = 0;
    int32_t Length = 0;
    bool Hex = false;  // the bytes as hex digits; else as text, up to a 0x00 or 0xFF byte
};

// Nothing, with 'problem' set, for a text that is no location.
std::optional<SerialLocation> ParseSerialLocation(const std::string& text, std::string& problem);

// The serial at 'where' in the EEPROM's 'size' bytes. Empty when the place lies outside the
// EEPROM or holds only blank bytes (a board not given a serial yet). Text keeps its printable
// ASCII characters; others become '?'.
std::string SerialFromEeprom(const uint8_t* eeprom, int32_t size, const SerialLocation& where);
