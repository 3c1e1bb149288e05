#include "link/Fuses.h"

#include <algorithm>
#include <cstring>

#include "link/IspLink.h"

namespace {
// Chips with a low and a high fuse byte and no extended one.
constexpr const char* TwoFuseChips[] = {"ATtiny13",  "ATmega8515", "ATmega8",  "ATmega16",
                                        "ATmega163", "ATmega32",   "ATmega32A"};
constexpr const char* NoIspFuseChips[] = {"AT90S2313", "AT90S8515"};

bool Named(const DeviceEntry& chip, const char* const* begin, const char* const* end) {
    return std::any_of(begin, end, [&](const char* n) { return std::strcmp(chip.Name, n) == 0; });
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
    if (Named(chip, std::begin(NoIspFuseChips), std::end(NoIspFuseChips))) return {};
    if (Named(chip, std::begin(TwoFuseChips), std::end(TwoFuseChips)))
        return {FuseByte::Lo, FuseByte::Hi};
    return {FuseByte::Lo, FuseByte::Hi, FuseByte::Ex};
}

bool HasFuse(const DeviceEntry& chip, FuseByte fuse) {
    const std::vector<FuseByte> fuses = FusesOf(chip);
    return std::find(fuses.begin(), fuses.end(), fuse) != fuses.end();
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
