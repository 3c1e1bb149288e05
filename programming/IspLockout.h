#pragma once
// Fuse bits that shut the serial programming interface for good: SPIEN left unprogrammed,
// RSTDISBL or DWEN programmed. A run refuses fuse values that would do so before it writes
// any fuse and before the chip erase, unless the user has allowed it explicitly.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/Fuses.h"
#include "programming/RunParams.h"

enum class LockoutBit {
    Spien,     // serial programming enable: locks out while unprogrammed (1)
    Rstdisbl,  // reset pin disabled: locks out while programmed (0)
    Dwen,      // debugWIRE enabled, ISP off: locks out while programmed (0)
};

struct LockoutFuseBit {
    const char* Chip;  // DeviceTable name
    FuseByte Fuse;
    int Bit;  // 0 to 7 within that fuse byte
    LockoutBit Kind;
};

// Every lock-out bit of every DeviceTable chip that has one, at that chip's own position.
const std::vector<LockoutFuseBit>& LockoutFuseBits();

const char* LockoutBitName(LockoutBit bit);  // "SPIEN", "RSTDISBL", "DWEN"

// The fuse bytes a run would write; nothing for a fuse it leaves alone.
struct FuseBytes {
    std::optional<uint8_t> Lo, Hi, Ex;
};

// One sentence per offending bit, such as "Hi fuse 0xFF would disable serial programming
// (SPIEN)"; empty when the values keep the chip reachable. A fuse byte the chip does not let
// serial programming write (the AT90S chips' fuses) is not judged.
std::vector<std::string> IspLockoutProblems(const std::string& chip, const FuseBytes& fuses);

// The fuse bytes of the run's parameters: the low 8 bits of each value that is a number.
// A text that is no number is left out here; the run's number check refuses it.
FuseBytes FuseBytesOf(const RunParams& params);

// Throws errIspLockout naming every offending bit, unless the parameters allow it.
void CheckIspLockout(const std::string& chip, const RunParams& params);
