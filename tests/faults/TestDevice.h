#pragma once
// The device every case updates: its chip, its EEPROM before the update, the firmware
// file, and what its flash must hold after a good update.

#include <cstdint>
#include <string>
#include <vector>

struct TestDevice {
    static constexpr const char* Chip = "ATmega644P";
    static constexpr std::size_t FirmwareBytes = 0x4000;  // a quarter of the chip's flash

    std::string Folder;
    std::string FirmwarePath;        // raw binary
    std::string EepromPath;          // the EEPROM before the update, as the box loads it
    std::vector<uint8_t> Eeprom;     // the same bytes
    std::vector<uint8_t> GoodFlash;  // the whole flash after a good update

    // Writes the files into 'folder'; the contents follow from the random key.
    static TestDevice Make(const std::string& folder, unsigned key);
};

std::vector<uint8_t> ReadBytes(const std::string& path);
bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
