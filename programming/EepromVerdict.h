#pragma once
// Does the EEPROM just read belong to an update that was interrupted while writing its copy
// back? Such a write-back leaves the copy's first blocks in the device and blank bytes after
// them. Where exactly one copy's content can explain the device, that copy goes back; where
// the device is blank, or several differing copies explain it, only a person can tell.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "programming/PendingCopies.h"

struct PendingContent {
    PendingCopy Copy;
    std::vector<uint8_t> Bytes;
};

struct EepromVerdict {
    enum Kind { NothingToDo, Restore, Ask };
    Kind Decision = NothingToDo;
    bool DeviceBlank = false;
    // Restore: the copy to write back. Ask: every copy that fits, newest first.
    std::vector<PendingCopy> Candidates;
    // Pending copies whose content the device holds after this run's write-back (whole
    // already, or through the Restore): their marks go once the EEPROM is back.
    std::vector<PendingCopy> Settled;
};

// 'pending' newest first; copies of other chips or sizes never fit.
EepromVerdict JudgeEeprom(const uint8_t* eeprom, std::size_t size, const std::string& chip,
                          const std::vector<PendingContent>& pending);

// The device holds what an interrupted write-back of 'copy' leaves: the copy's bytes up to
// the device's last non-blank byte, blank after it. A blank device fits every copy.
bool FitsInterruptedWriteBack(const uint8_t* eeprom, std::size_t size,
                              const std::vector<uint8_t>& copy);
