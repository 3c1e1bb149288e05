#include "programming/BoardSerial.h"

#include <cstdio>

#include "programming/NumberText.h"

namespace {
std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// -1 for a text that is no number from 0 to 0xFFFF.
int32_t Number(const std::string& text) {
    const auto n = ParseNumber(text);
    return n && *n >= 0 && *n <= 0xFFFF ? *n : -1;
}
}  // namespace

std::optional<SerialLocation> ParseSerialLocation(const std::string& text, std::string& problem) {
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    const int32_t address = Number(text.substr(0, first));
    int32_t length = -1;
    if (first != std::string::npos)
        length = Number(second == std::string::npos ? text.substr(first + 1)
                                                    : text.substr(first + 1, second - first - 1));
    const std::string form = second == std::string::npos ? "text" : Lower(text.substr(second + 1));
    if (address < 0 || length <= 0 || (form != "text" && form != "hex")) {
        problem = "serial location '" + text + "' is not ADDR:LENGTH[:text|hex]";
        return std::nullopt;
    }
    return SerialLocation{address, length, form == "hex"};
}

std::string SerialFromEeprom(const uint8_t* eeprom, int32_t size, const SerialLocation& where) {
    if (where.Address + where.Length > size) return {};
    const uint8_t* bytes = eeprom + where.Address;
    bool blank = true;
    for (int32_t i = 0; i < where.Length; ++i) blank = blank && bytes[i] == 0xFF;
    if (blank) return {};
    std::string serial;
    for (int32_t i = 0; i < where.Length; ++i) {
        if (where.Hex) {
            char digits[4];
            std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
            serial += digits;
            continue;
        }
        if (bytes[i] == 0x00 || bytes[i] == 0xFF) break;
        serial += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '?';
    }
    return serial;
}
