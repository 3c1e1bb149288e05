#include "link/Fuses.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "link/IspLink.h"

namespace {
struct ChipFuseBits {
    const char* Chip;  // DeviceTable name
    uint8_t Lo, Hi, Ex;
};

// The implemented bits of each fuse byte over the serial interface, from the chips' data
// sheets; a test holds them against avr-libc's headers. The AT90S chips have fuses in
// parallel mode only, so none here.
constexpr ChipFuseBits FuseBitsTable[] = {
    {"AT90S2313", 0x00, 0x00, 0x00},  {"AT90S8515", 0x00, 0x00, 0x00},
    {"ATtiny13", 0xFF, 0x1F, 0x00},   {"ATtiny2313", 0xFF, 0xFF, 0x01},
    {"ATmega48", 0xFF, 0xFF, 0x01},   {"ATmega8515", 0xFF, 0xFF, 0x00},
    {"ATmega8", 0xFF, 0xFF, 0x00},    {"ATmega88", 0xFF, 0xFF, 0x07},
    {"ATmega16", 0xFF, 0xFF, 0x00},   {"ATmega163", 0xEF, 0x07, 0x00},
    {"ATmega168", 0xFF, 0xFF, 0x07},  {"ATmega32", 0xFF, 0xFF, 0x00},
    {"ATmega32A", 0xFF, 0xFF, 0x00},  {"ATmega64", 0xFF, 0xFF, 0x03},
    {"ATmega128", 0xFF, 0xFF, 0x03},  {"ATmega644", 0xFF, 0xFF, 0x07},
    {"ATmega644P", 0xFF, 0xFF, 0x07}, {"ATmega2560", 0xFF, 0xFF, 0x07},
};

// A chip missing from the table has no fuse the run may write: refusing is safer than
// writing bits nobody has checked.
const ChipFuseBits* BitsOf(const DeviceEntry& chip) {
    const auto row =
        std::find_if(std::begin(FuseBitsTable), std::end(FuseBitsTable),
                     [&](const ChipFuseBits& r) { return std::strcmp(r.Chip, chip.Name) == 0; });
    return row == std::end(FuseBitsTable) ? nullptr : row;
}
}  // namespace

const char* FuseName(FuseByte fuse) {
    switch (fuse) {
        case FuseByte::Lo:
            return "Lo";
        case FuseByte::Hi:
            return "Hi";
        default:
            return "Ex";
    }
}

FuseInstructions InstructionsOf(FuseByte fuse) {
    switch (fuse) {
        case FuseByte::Lo:
            return {0xA0, 0x50, 0x00};
        case FuseByte::Hi:
            return {0xA8, 0x58, 0x08};
        default:
            return {0xA4, 0x50, 0x08};
    }
}

std::vector<FuseByte> FusesOf(const DeviceEntry& chip) {
    std::vector<FuseByte> fuses;
    for (const FuseByte fuse : {FuseByte::Lo, FuseByte::Hi, FuseByte::Ex})
        if (ImplementedBits(chip, fuse) != 0) fuses.push_back(fuse);
    return fuses;
}

bool HasFuse(const DeviceEntry& chip, FuseByte fuse) {
    return ImplementedBits(chip, fuse) != 0;
}

uint8_t ImplementedBits(const DeviceEntry& chip, FuseByte fuse) {
    const ChipFuseBits* bits = BitsOf(chip);
    if (!bits) return 0;
    switch (fuse) {
        case FuseByte::Lo:
            return bits->Lo;
        case FuseByte::Hi:
            return bits->Hi;
        default:
            return bits->Ex;
    }
}

bool FuseHolds(const DeviceEntry& chip, FuseByte fuse, uint8_t written, uint8_t read) {
    return ((written ^ read) & ImplementedBits(chip, fuse)) == 0;
}

uint8_t ReadFuse(TIspLink& link, FuseByte fuse) {
    const FuseInstructions i = InstructionsOf(fuse);
    link.IspCommand(i.Read1, i.Read2, 0x00, 0x00, 0);
    return link.Reply[3];
}

uint8_t ReadLockBits(TIspLink& link) {
    link.IspCommand(0x58, 0x00, 0x00, 0x00, 0);
    return link.Reply[3];
}
