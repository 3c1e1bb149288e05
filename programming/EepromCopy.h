#pragma once
// The EEPROM read before the chip erase, kept on disk until the device has it back.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/DeviceTable.h"

// No chip has more EEPROM than this; a larger file is no copy.
constexpr std::size_t MaxEepromCopyBytes = 0x10000;

// Claims <folder>/eeprom-<chip>-<port>-<time>.bin, a name no other run takes (creating the
// folder); returns the path. Throws EProgError errBackupWrite naming the file and the OS's
// reason when it cannot.
std::string ClaimEepromCopyPath(const std::string& folder, const std::string& chip,
                                const std::string& port,
                                std::chrono::system_clock::time_point when);

// Writes the bytes into the claimed file; throws errBackupWrite (and gives the name up) when
// it cannot.
void SaveEepromCopy(const std::string& path, const uint8_t* bytes, std::size_t size);

// Reads a copy back: a regular file of at most MaxEepromCopyBytes, checked before reading.
// Throws EProgError errBackupRead naming the file and the reason when it cannot.
std::vector<uint8_t> LoadEepromCopy(const std::string& path);

// The chip named in a copy's file name (eeprom-<chip>-...), empty when it names none.
std::string ChipOfEepromCopy(const std::string& copyPath);

// Throws errBackupMismatch when the copy was taken from another kind of chip or does not
// have this chip's EEPROM size.
void CheckCopyFits(const std::string& path, const std::vector<uint8_t>& copy,
                   const DeviceEntry& device);
