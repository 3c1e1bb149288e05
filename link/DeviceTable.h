#pragma once
// The AVR chips the programmer knows, identified by signature bytes 1 and 2.

#include <cstddef>
#include <cstdint>

struct DeviceEntry {
    char Name[16];
    uint8_t Signature1;
    uint8_t Signature2;
    int32_t FlashSize;   // bytes
    int32_t EepromSize;  // bytes
    int32_t PageSize;    // 1: byte mode; else bytes per page write
};

constexpr std::size_t DeviceCount = 18;
extern const DeviceEntry DeviceTable[DeviceCount];

// First row with this signature, or nullptr.
const DeviceEntry* FindDeviceBySignature(uint8_t sig1, uint8_t sig2);
// Row with exactly this name, or nullptr.
const DeviceEntry* FindDeviceByName(const char* name);
