#pragma once
// The catalogue's items as reading a device needs them to recognise the firmware it holds.

#include <string>
#include <vector>

#include "programming/DeviceReadout.h"

class Catalogue;

// Every item of the catalogue (production items too), in item order: name, identifier
// pattern, firmware path, and the application length of the processor entry naming 'chip'
// (empty when none names it).
std::vector<KnownFirmware> KnownFirmwaresFor(const Catalogue& catalogue,
                                             const std::string& programFolder,
                                             const std::string& chip);
