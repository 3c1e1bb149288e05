#pragma once
// The flash image an update would program into a chip: the firmware file loaded, nothing of
// it beyond the chip's flash, the check value stamped at the application length. Verifying a
// device against a firmware, and telling whether a device holds an item's firmware file,
// compare the device with exactly this.

#include <cstdint>
#include <string>

#include "link/DeviceTable.h"
#include "programming/OpenAndIdentify.h"

struct StampedImage {
    int32_t Size = 0;    // one past the highest address the file sets
    int32_t Length = 0;  // the application length the check value was stamped at
    uint16_t CheckValue = 0;
};

// Loads 'path' into flashImage (isp::FlashImageSize bytes) and stamps it. 'applicationLength'
// is the Bootloader value as text: empty or no number means the loaded size. Throws
// EProgError as the loader does, errImageTooLarge for a file or length beyond the chip's
// flash, errImageEmpty for a file without data or a length too short for the check value.
// 'log' gets the run's lines for it.
StampedImage LoadStampedImage(const std::string& path, const std::string& applicationLength,
                              const DeviceEntry& chip, uint8_t* flashImage,
                              const StepLog& log = {});
