#pragma once
// What the bits of a chip's fuse bytes and lock byte mean, in words, as each chip's data sheet
// gives them: clock source and start-up time, brown-out level, boot section and reset vector,
// EESAVE, watchdog, JTAG and debugWIRE, SPIEN, RSTDISBL, CKDIV8, CKOUT, and the lock modes.
// A fuse bit is programmed when it reads 0.

#include <cstdint>
#include <string>
#include <vector>

#include "link/DeviceTable.h"
#include "link/Fuses.h"

// One field of a fuse byte: a single bit (SPIEN) or a run of bits (CKSEL3..0), named as the
// data sheet names it. Bits of a run are numbered from 0 at the field's lowest bit.
struct FuseField {
    const char* Name;
    uint8_t Mask;  // the field's bits within the fuse byte; contiguous
};

// The fields of a fuse byte of the chip, lowest bits first; none for a byte the chip does not
// let the serial interface read (every byte of the AT90S chips, the extended byte of the
// two-fuse chips). Bits outside every field are unused.
std::vector<FuseField> FuseFieldsOf(const DeviceEntry& chip, FuseByte fuse);

// The byte in words, one line per field, lowest bits first, each starting with the field and
// its bits ("SPIEN=0: serial programming enabled"). The clock source and its start-up time
// share one line ("CKSEL=0010 SUT=10: ..."), since what SUT means depends on the source.
std::vector<std::string> DescribeFuse(const DeviceEntry& chip, FuseByte fuse, uint8_t value);

// Whether the chip answers the Read Lock Bits instruction (0x58 0x00): all but the AT90S
// chips, whose lock bits can only be written.
bool HasLockRead(const DeviceEntry& chip);
// Whether the chip has boot lock bits (BLB0, BLB1) beside LB1 and LB2.
bool HasBootLockBits(const DeviceEntry& chip);

// The lock byte in words: the memory lock mode (LB2..1), and on chips with a boot section the
// boot lock modes of the application section (BLB02..01) and the boot section (BLB12..11).
std::vector<std::string> DescribeLockBits(const DeviceEntry& chip, uint8_t value);

// LB mode 3: the flash and EEPROM can no longer be read back through the serial interface,
// so what a read returns is not their content.
bool ForbidsReading(uint8_t lockBits);
