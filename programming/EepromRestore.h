#pragma once
// Puts a saved EEPROM copy back into a device whose update did not finish.

#include <string>

#include "programming/LinkFactory.h"
#include "programming/RunContext.h"
#include "programming/RunReport.h"

// Reads the copy (at most 64 KiB), identifies the chip and checks that the copy was taken
// from that kind of chip and has its EEPROM size. Then saves the device's EEPROM as a copy of
// its own, writes every block that differs from it (no erase comes first, so blank blocks of
// the copy count), and reads the whole EEPROM back to verify it. Reports like a run and
// leaves a log file and a record line; success clears the copy's pending mark. A stop asked
// for before it writes ends it with the device untouched; one that comes while it writes
// waits until the copy is in and verified.
// 'dataFolder' empty: the default one. 'context' goes into the run's record.
RunOutcome RestoreEeprom(const std::string& portName, const std::string& copyPath,
                         IRunReport& report, const LinkFactory& makeLink,
                         const std::string& dataFolder = {}, const RunContext& context = {});
