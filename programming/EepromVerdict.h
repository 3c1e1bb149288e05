#pragma once
// Does the EEPROM just read belong to an update that was interrupted while writing its copy
// back? Such a write-back writes the copy's non-blank 32-byte blocks in ascending order onto
// an erased EEPROM, so it leaves whole blocks of the copy from its start and blank bytes after
// them. A copy goes back without asking only where the device holds that and nothing else a
// fresh board of the chip could hold as well; where a board could look the same (a blank
// EEPROM, bytes that other units' copies hold too, several differing copies), only a person
// can tell.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "programming/PendingCopies.h"

struct PendingContent {
    PendingCopy Copy;
    std::vector<uint8_t> Bytes;
};

// An EEPROM copy of the chip kept on this machine (saved by an update here, or pending): what
// a board updated here held.
struct KnownCopy {
    std::string Path;
    std::vector<uint8_t> Bytes;
    std::chrono::system_clock::time_point Saved;
};

struct EepromVerdict {
    enum Kind { NothingToDo, Restore, Ask };
    Kind Decision = NothingToDo;
    bool DeviceBlank = false;
    // Ask: the device holds part of a copy, but nothing a board without it could not hold too.
    bool DeviceCommon = false;
    // Restore: the copy to write back. Ask: every copy that fits, newest first.
    std::vector<PendingCopy> Candidates;
    // Pending copies whose content the device holds after this run's write-back (whole
    // already, or through the Restore): their marks go once the EEPROM is back.
    std::vector<PendingCopy> Settled;
};

// 'pending' newest first; copies of other chips or sizes never fit. 'known': the other EEPROM
// copies of this chip on this machine (not the one this run saved of the device).
EepromVerdict JudgeEeprom(const uint8_t* eeprom, std::size_t size, const std::string& chip,
                          const std::vector<PendingContent>& pending,
                          const std::vector<KnownCopy>& known = {});

// The device holds what an interrupted write-back of 'copy' leaves: the copy's whole blocks up
// to the device's last non-blank byte, blank after them. A blank device fits every copy.
bool FitsInterruptedWriteBack(const uint8_t* eeprom, std::size_t size,
                              const std::vector<uint8_t>& copy);

// Whether what the device holds is evidence of the unit whose copy is 'copy': more than one
// non-blank block, one of them held at its address by no copy of another unit (the rule is
// spelled out in the .cpp).
bool HoldsEvidenceOf(const uint8_t* eeprom, std::size_t size, const PendingContent& copy,
                     const std::vector<KnownCopy>& known);
