#include "sim/TargetModel.h"

#include <algorithm>

#include "sim/EesaveFuse.h"

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
      PageBuffer(RealPageBytes(chip), 0xFF) {
    for (const FuseByte fuse : {FuseByte::Lo, FuseByte::Hi, FuseByte::Ex}) {
        uint8_t& slot = FuseSlot(fuse);
        slot = HasFuse(chip, fuse) ? static_cast<uint8_t>(slot | ~ImplementedBits(chip, fuse))
                                   : uint8_t{0xFF};
    }
}

void TargetModel::ChipErase() {
    std::fill(Flash.begin(), Flash.end(), 0xFF);
    if (!EepromSurvivesErase()) std::fill(Eeprom.begin(), Eeprom.end(), 0xFF);
    LockBits = 0xFF;
    ++ChipErases;
}

bool TargetModel::EepromSurvivesErase() const {
    const std::optional<EesaveBit> eesave = EesaveOf(ChipRow);
    if (!eesave) return false;
    const uint8_t fuse = eesave->Fuse == FuseByte::Lo   ? FuseLo
                         : eesave->Fuse == FuseByte::Hi ? FuseHi
                                                        : FuseEx;
    return (fuse & (1u << eesave->Bit)) == 0;
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

uint8_t& TargetModel::FuseSlot(FuseByte fuse) {
    switch (fuse) {
        case FuseByte::Lo:
            return FuseLo;
        case FuseByte::Hi:
            return FuseHi;
        default:
            return FuseEx;
    }
}

void TargetModel::WriteFuse(FuseByte fuse, uint8_t value) {
    if (!HasFuse(ChipRow, fuse)) return;  // no such instruction on this chip
    FuseSlot(fuse) = static_cast<uint8_t>(value | ~ImplementedBits(ChipRow, fuse));
}

// The data sheets define no answer to the read instruction of a fuse byte a chip lacks; this
// model answers 0xFF, as an erased, unimplemented fuse byte would read, so a read-out that
// forgets to ask HasFuse shows "nothing programmed" rather than a made-up setting.
uint8_t TargetModel::ReadFuse(FuseByte fuse) const {
    if (!HasFuse(ChipRow, fuse)) return 0xFF;
    return fuse == FuseByte::Lo ? FuseLo : fuse == FuseByte::Hi ? FuseHi : FuseEx;
}
