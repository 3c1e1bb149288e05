#pragma once
// The fuse and lock bytes as the serial programming interface reaches them: which fuse bytes
// each chip of the DeviceTable has there, and the instructions that write and read them.

#include <cstdint>
#include <vector>

#include "link/DeviceTable.h"

class TIspLink;

enum class FuseByte { Lo, Hi, Ex };

const char* FuseName(FuseByte fuse);  // "Lo", "Hi", "Ex", as the log lines name them

// Byte 2 of the write instruction (0xAC, this, 0x00, value) and bytes 1 and 2 of the read
// instruction (these, 0x00, answer in reply byte 3).
struct FuseInstructions {
    uint8_t Write2;
    uint8_t Read1, Read2;
};
FuseInstructions InstructionsOf(FuseByte fuse);

// The fuse bytes the chip lets the serial interface write and read, in the order Lo, Hi, Ex:
// none on the AT90S chips (their fuses are reached in parallel mode only), Lo and Hi on the
// two-fuse chips, all three on the others.
std::vector<FuseByte> FusesOf(const DeviceEntry& chip);
bool HasFuse(const DeviceEntry& chip, FuseByte fuse);

// Reads a fuse byte or the lock byte (0x58 0x00) through the box; the link must be in
// programming mode.
uint8_t ReadFuse(TIspLink& link, FuseByte fuse);
uint8_t ReadLockBits(TIspLink& link);
