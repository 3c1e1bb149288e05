#pragma once
// The fuse and lock bytes as the serial programming interface reaches them: which fuse bytes
// each chip of the DeviceTable has there and which of their bits it implements, the
// instructions that write and read them, and reading them through the box.
//
// A fuse bit is programmed when it reads 0. Bits a chip does not implement read back as 1 on
// real chips whatever was written (an extended fuse written as 0x05 reads 0xFD on a chip with
// three extended fuse bits), so a read-back is compared in the implemented bits only.

#include <cstdint>
#include <vector>

#include "link/DeviceTable.h"

class TIspLink;

enum class FuseByte { Lo, Hi, Ex };

const char* FuseName(FuseByte fuse);  // "Lo", "Hi", "Ex", as the log lines name them

// Byte 2 of the write instruction (0xAC, this, 0x00, value; parameter byte isp::FuseParam) and
// bytes 1 and 2 of the read instruction (these, 0x00, 0x00; the answer in reply byte 3).
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

// The bits of the fuse byte the chip implements, 1 for each (as avr-libc's per-chip FUSE_
// definitions give them: 0x07 for the ATmega644P's extended fuse); 0 for a fuse byte the
// chip does not have, so HasFuse is ImplementedBits != 0.
uint8_t ImplementedBits(const DeviceEntry& chip, FuseByte fuse);

// Whether a fuse that reads 'read' holds 'written' in every bit the chip implements.
bool FuseHolds(const DeviceEntry& chip, FuseByte fuse, uint8_t written, uint8_t read);

// Reads a fuse byte or the lock byte (0x58 0x00) through the box; the link must be in
// programming mode. What a chip answers for a fuse byte it does not have is not defined:
// ask HasFuse first.
uint8_t ReadFuse(TIspLink& link, FuseByte fuse);
uint8_t ReadLockBits(TIspLink& link);
