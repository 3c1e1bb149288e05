#pragma once
// The catalogue's items as reading a device needs them to recognise the firmware it holds.

#include <string>
#include <vector>

#include "programming/DeviceReadRun.h"
#include "programming/DeviceReadout.h"

class Catalogue;
struct UpdatePlan;

// Every item of the catalogue (production items too), in item order: name, identifier
// pattern, firmware path, and the application length of the processor entry naming 'chip'
// (empty when none names it).
std::vector<KnownFirmware> KnownFirmwaresFor(const Catalogue& catalogue,
                                             const std::string& programFolder,
                                             const std::string& chip);

// A read of the device on 'port' that looks for the identifiers of the items of the catalogue
// at 'catalogueFile' (its folder 'programFolder' holds Firmware/). The catalogue is read when
// the chip is known; one that cannot be read is named in the log, and no identifier is
// looked for then.
DeviceReadRequest CatalogueReadRequest(const std::string& catalogueFile,
                                       const std::string& programFolder, const std::string& port);

// A verify of the device on 'port' against the firmware of an item's update plan (its
// firmware file and the application length of the processor entry naming the chip).
DeviceReadRequest ItemVerifyRequest(const UpdatePlan& plan, const std::string& port);
