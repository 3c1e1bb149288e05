#include "sim/TargetModel.h"

#include <algorithm>

int RealPageBytes(const DeviceEntry& chip) {
    if (chip.PageSize == 1) return 1;  // no page buffer: byte-mode parts
    if (chip.FlashSize >= 0x10000) return 256;
    if (chip.FlashSize >= 0x4000) return 128;
    if (chip.FlashSize >= 0x1000) return 64;
    return 32;
}

TargetModel::TargetModel(const DeviceEntry& chip)
    : Flash(chip.FlashSize, 0xFF),
      Eeprom(chip.EepromSize, 0xFF),
      ChipRow(chip),
      PageBuffer(RealPageBytes(chip), 0xFF) {}

void TargetModel::ChipErase() {
    std::fill(Flash.begin(), Flash.end(), 0xFF);
    std::fill(Eeprom.begin(), Eeprom.end(), 0xFF);
    LockBits = 0xFF;
    ++ChipErases;
}

void TargetModel::WriteFlashByte(uint32_t address, uint8_t value) {
    if (address < Flash.size()) Flash[address] &= value;
}

void TargetModel::LoadPageBuffer(uint32_t address, uint8_t value) {
    PageBuffer[address % PageBuffer.size()] = value;
}

uint32_t TargetModel::WritePage(uint32_t byteAddressLow17) {
    // The word address's upper bits come from the Load Extended Address byte, as on
    // the real part: a page above 128K words lands low when the link forgets it.
    const uint32_t word =
        (static_cast<uint32_t>(ExtendedAddress) << 16) | ((byteAddressLow17 >> 1) & 0xFFFF);
    // Both sizes come from the device table: at most 256 bytes and 256K bytes.
    const uint32_t size = static_cast<uint32_t>(PageBuffer.size());
    const uint32_t flashBytes = static_cast<uint32_t>(Flash.size());
    const uint32_t base = ((word * 2) % std::max<uint32_t>(flashBytes, 1)) / size * size;
    for (uint32_t i = 0; i < size && base + i < Flash.size(); ++i) Flash[base + i] &= PageBuffer[i];
    std::fill(PageBuffer.begin(), PageBuffer.end(), 0xFF);
    return base;
}

void TargetModel::WriteEeprom(uint32_t address, uint8_t value) {
    if (address < Eeprom.size()) Eeprom[address] = value;
}

uint8_t TargetModel::ReadFlash(uint32_t address) const {
    return address < Flash.size() ? Flash[address] : 0xFF;
}

uint8_t TargetModel::ReadEeprom(uint32_t address) const {
    return address < Eeprom.size() ? Eeprom[address] : 0xFF;
}
