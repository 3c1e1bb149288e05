#include "sim/EesaveFuse.h"

#include <cstring>

namespace {
struct ChipEesave {
    const char* Chip;
    EesaveBit Where;
};

// The chips whose EESAVE is not bit 3 of the high fuse, and those without one.
constexpr ChipEesave Elsewhere[] = {
    {"ATtiny13", {FuseByte::Lo, 6}},
    {"ATtiny2313", {FuseByte::Hi, 6}},
};
constexpr const char* Without[] = {"AT90S2313", "AT90S8515", "ATmega163"};
}  // namespace

std::optional<EesaveBit> EesaveOf(const DeviceEntry& chip) {
    for (const char* name : Without)
        if (std::strcmp(chip.Name, name) == 0) return std::nullopt;
    for (const ChipEesave& e : Elsewhere)
        if (std::strcmp(chip.Name, e.Chip) == 0) return e.Where;
    return EesaveBit{FuseByte::Hi, 3};
}
