#include "programming/IspLockout.h"

#include <cstdio>

#include "link/DeviceTable.h"
#include "link/ProgError.h"
#include "programming/NumberText.h"

namespace {
using F = FuseByte;
using B = LockoutBit;

std::optional<uint8_t> FuseByteOf(const std::string& text) {
    if (text.empty()) return std::nullopt;
    const auto value = ParseNumber(text);
    if (!value) return std::nullopt;
    return static_cast<uint8_t>(*value & 0xFF);
}

const std::optional<uint8_t>& ValueOf(const FuseBytes& fuses, FuseByte fuse) {
    switch (fuse) {
        case F::Lo:
            return fuses.Lo;
        case F::Hi:
            return fuses.Hi;
        default:
            return fuses.Ex;
    }
}

// A fuse bit is programmed when it reads 0.
bool LocksOut(LockoutBit kind, bool programmed) {
    return kind == B::Spien ? !programmed : programmed;
}

const char* Effect(LockoutBit kind) {
    switch (kind) {
        case B::Spien:
            return "would disable serial programming";
        case B::Rstdisbl:
            return "would turn the reset pin into an I/O pin and so disable serial programming";
        default:
            return "would enable debugWIRE, which disables serial programming";
    }
}
}  // namespace

const std::vector<LockoutFuseBit>& LockoutFuseBits() {
    // Positions as the chips' data sheets give them; a test holds the table against the
    // FUSE_ definitions of avr-libc's headers.
    static const std::vector<LockoutFuseBit> bits = {
        {"AT90S2313", F::Lo, 5, B::Spien},   {"AT90S8515", F::Lo, 1, B::Spien},
        {"ATtiny13", F::Lo, 7, B::Spien},    {"ATtiny13", F::Hi, 0, B::Rstdisbl},
        {"ATtiny13", F::Hi, 3, B::Dwen},     {"ATtiny2313", F::Hi, 0, B::Rstdisbl},
        {"ATtiny2313", F::Hi, 5, B::Spien},  {"ATtiny2313", F::Hi, 7, B::Dwen},
        {"ATmega48", F::Hi, 5, B::Spien},    {"ATmega48", F::Hi, 6, B::Dwen},
        {"ATmega48", F::Hi, 7, B::Rstdisbl}, {"ATmega8515", F::Hi, 5, B::Spien},
        {"ATmega8", F::Hi, 5, B::Spien},     {"ATmega8", F::Hi, 7, B::Rstdisbl},
        {"ATmega88", F::Hi, 5, B::Spien},    {"ATmega88", F::Hi, 6, B::Dwen},
        {"ATmega88", F::Hi, 7, B::Rstdisbl}, {"ATmega16", F::Hi, 5, B::Spien},
        {"ATmega163", F::Lo, 5, B::Spien},   {"ATmega168", F::Hi, 5, B::Spien},
        {"ATmega168", F::Hi, 6, B::Dwen},    {"ATmega168", F::Hi, 7, B::Rstdisbl},
        {"ATmega32", F::Hi, 5, B::Spien},    {"ATmega32A", F::Hi, 5, B::Spien},
        {"ATmega64", F::Hi, 5, B::Spien},    {"ATmega128", F::Hi, 5, B::Spien},
        {"ATmega644", F::Hi, 5, B::Spien},   {"ATmega644P", F::Hi, 5, B::Spien},
        {"ATmega2560", F::Hi, 5, B::Spien},
    };
    return bits;
}

const char* LockoutBitName(LockoutBit bit) {
    switch (bit) {
        case B::Spien:
            return "SPIEN";
        case B::Rstdisbl:
            return "RSTDISBL";
        default:
            return "DWEN";
    }
}

std::vector<std::string> IspLockoutProblems(const std::string& chip, const FuseBytes& fuses) {
    std::vector<std::string> problems;
    const DeviceEntry* device = FindDeviceByName(chip.c_str());
    for (const LockoutFuseBit& b : LockoutFuseBits()) {
        const std::optional<uint8_t>& value = ValueOf(fuses, b.Fuse);
        if (chip != b.Chip || !value) continue;
        // A fuse byte serial programming cannot write cannot lock it out; the run refuses
        // its value as absent instead.
        if (device && !HasFuse(*device, b.Fuse)) continue;
        if (!LocksOut(b.Kind, ((*value >> b.Bit) & 1) == 0)) continue;
        char text[160];
        std::snprintf(text, sizeof text, "%s fuse 0x%02X %s (%s)", FuseName(b.Fuse), *value,
                      Effect(b.Kind), LockoutBitName(b.Kind));
        problems.push_back(text);
    }
    return problems;
}

FuseBytes FuseBytesOf(const RunParams& params) {
    return {FuseByteOf(params.FuseLo), FuseByteOf(params.FuseHi), FuseByteOf(params.FuseEx)};
}

void CheckIspLockout(const std::string& chip, const RunParams& params) {
    if (params.AllowIspLockout) return;
    const std::vector<std::string> problems = IspLockoutProblems(chip, FuseBytesOf(params));
    if (problems.empty()) return;
    std::string detail;
    for (const std::string& p : problems) detail += p + "; ";
    detail +=
        "to allow it, set Lockout_<k>=YES beside the processor entry in the catalogue, or "
        "give q40prog-cli --allow-isp-lockout";
    throw EProgError(errIspLockout, detail);
}
