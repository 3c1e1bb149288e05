#pragma once
// An AVR target as seen through its serial-programming interface: flash bits only fall
// until a chip erase, page writes go through a page buffer of the chip's real size, and the
// erase keeps the EEPROM while the chip's EESAVE fuse bit is programmed.

#include <cstdint>
#include <vector>

#include "link/DeviceTable.h"
#include "link/Fuses.h"

class TargetModel {
public:
    explicit TargetModel(const DeviceEntry& chip);

    const DeviceEntry& Chip() const { return ChipRow; }
    // Page buffer size of the real part (bytes); may exceed the link's page size.
    int PageBufferSize() const { return static_cast<int>(PageBuffer.size()); }

    void ChipErase();
    // EESAVE programmed (its bit 0 in its fuse byte), on a chip that has the fuse.
    bool EepromSurvivesErase() const;
    // Byte mode: programming ANDs the new value into flash.
    void WriteFlashByte(uint32_t address, uint8_t value);
    // Page mode: fills the buffer at the address's offset within the page.
    void LoadPageBuffer(uint32_t address, uint8_t value);
    // Commits the buffer to the page holding the word address (ExtendedAddress:high:low);
    // returns the byte address of the page written.
    uint32_t WritePage(uint32_t byteAddressLow17);
    void WriteEeprom(uint32_t address, uint8_t value);
    uint8_t ReadFlash(uint32_t address) const;
    uint8_t ReadEeprom(uint32_t address) const;
    // The fuse bytes as the chip keeps them: a bit it does not implement stays 1, a fuse byte
    // it does not have takes no write.
    void WriteFuse(FuseByte fuse, uint8_t value);
    uint8_t ReadFuse(FuseByte fuse) const;

    std::vector<uint8_t> Flash;
    std::vector<uint8_t> Eeprom;
    // What the fuse bytes hold, unimplemented bits 1 (0xFF for a byte the chip lacks).
    uint8_t FuseLo = 0x62, FuseHi = 0xD9, FuseEx = 0xFF;
    uint8_t LockBits = 0xFF;      // no lock; only a chip erase brings a set lock back to this
    uint8_t ExtendedAddress = 0;  // from Load Extended Address
    int ChipErases = 0;

private:
    uint8_t& FuseSlot(FuseByte fuse);
    DeviceEntry ChipRow;
    std::vector<uint8_t> PageBuffer;
};

// Real page buffer size in bytes of a DeviceTable chip.
int RealPageBytes(const DeviceEntry& chip);
