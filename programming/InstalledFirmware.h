#pragma once
// Which catalogue firmware a device's flash holds, and whether it is intact: the identifiers
// the items' patterns find in it, each found application's check value at that item's
// application length, and how the flash compares with the item's firmware file as an update
// would program it. Works on the flash as read; talks to nothing.

#include <cstdint>
#include <string>
#include <vector>

#include "link/DeviceTable.h"
#include "programming/DeviceReadout.h"

// Fills FlashErased, LastNonBlank, Identifiers and Checks from chip.FlashSize bytes of flash.
void SurveyFlash(const uint8_t* flash, const DeviceEntry& chip,
                 const std::vector<KnownFirmware>& items, DeviceReadout& readout);

// The check the verdict goes by: an intact firmware that is its file's own first, then an
// intact one, then one not checked, then a broken one; the lowest item number among equals.
// Nothing when no application identifier was found.
const ItemCheck* BestCheck(const DeviceReadout& readout);

// The flash part's verdict in one line: "erased", "installed: item 3 <name>, <identifier>,
// check value valid, same as its firmware file" (or "..., differs from its firmware file from
// 0x1200 on"), "identifier <identifier> found, check value wrong: an interrupted or damaged
// update", "no identifier of this catalogue found".
std::string FlashVerdict(const DeviceReadout& readout);

// The lines that tell the survey in the log, one fact each.
std::vector<std::string> SurveyLines(const DeviceReadout& readout, int32_t flashSize);
