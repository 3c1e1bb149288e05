#pragma once
// Puts a saved EEPROM copy back into a device whose update did not finish.

#include <string>

#include "programming/LinkFactory.h"
#include "programming/RunReport.h"

// Identifies the chip, checks that the copy was taken from that kind of chip and has its
// EEPROM size, then programs and verifies the EEPROM only. Reports like a run.
RunOutcome RestoreEeprom(const std::string& portName, const std::string& copyPath,
                         IRunReport& report, const LinkFactory& makeLink);

// The chip named in a copy's file name (eeprom-<chip>-...), empty when it names none.
std::string ChipOfEepromCopy(const std::string& copyPath);
