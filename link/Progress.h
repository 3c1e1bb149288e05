#pragma once
// Progress and abort contract of the memory transfers.

#include <cstdint>

// Even codes report progress before a block; the odd code after each says the phase finished.
enum ProgressPhase : int32_t {
    phVerifyFlash = 0,  // VerifyFlash: the device's flash against FlashImage, read only
    phFlashVerified = 1,
    phProgramFlash = 2,
    phFlashProgrammed = 3,
    phReadFlash = 4,  // ReadFlash
    phFlashRead = 5,
    phReadEeprom = 6,
    phEepromRead = 7,
    phVerifyEeprom = 8,    // reserved
    phEepromVerified = 9,  // reserved
    phProgramEeprom = 10,
    phEepromProgrammed = 11,
};

// Called before every block (position = byte address, total = memory size) and once
// at the end of a transfer (1, 1, finished phase). Returning true in a progress phase
// stops the transfer with code 14.
using ProgressCallback = bool (*)(void* userData, int32_t position, int32_t total,
                                  ProgressPhase phase);
