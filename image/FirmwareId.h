#pragma once
// Firmware identifiers: five characters embedded in an image. Positions 0, 1, 2 and 4
// identify the firmware; position 3 marks the variant ("*" for a bootloader, anything else an
// application). The identifier text runs from its first character to the next zero byte.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

constexpr std::size_t FirmwareIdLength = 5;
constexpr char BootloaderMarker = '*';

// Positions 0, 1, 2 and 4 equal as bytes, and position 3 "*" on both sides or on neither.
// A side shorter than five characters matches nothing.
bool MatchFirmwareId(std::string_view a, std::string_view b);

// The identifier text of the last position i in 0 .. size - 1 whose five bytes match the
// pattern; empty when none. Reads stay inside image[0 .. bufferLength - 1]: an identifier
// needs all five bytes inside the buffer, and a text without a zero byte ends at the
// buffer's end.
std::string FindFirmwareId(const uint8_t* image, int32_t size, const std::string& pattern,
                           int32_t bufferLength);

// Loads the firmware file into a flash image of its own and searches it. Every load failure
// (no file, unreadable, bad HEX) gives the empty text.
std::string ReadFirmwareId(const std::string& path, const std::string& pattern);

// The bootloader pattern that goes with an application pattern carrying "+" in position 3
// (the same with "*" there); empty when the pattern has no "+" in that position.
std::string BootloaderPattern(const std::string& pattern);
