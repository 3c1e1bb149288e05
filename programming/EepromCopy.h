#pragma once
// The EEPROM read before the chip erase, kept on disk until the device has it back.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// A path not yet taken: <folder>/eeprom-<chip>-<port>-<time>.bin.
std::string EepromCopyPath(const std::string& folder, const std::string& chip,
                           const std::string& port, std::chrono::system_clock::time_point when);

// Saves the bytes there (creating the folder). Throws EProgError errBackupWrite naming the
// file and the reason when it cannot.
void SaveEepromCopy(const std::string& path, const uint8_t* bytes, std::size_t size);

// Reads a copy back; throws EProgError errFileOpen naming the file when it cannot.
std::vector<uint8_t> LoadEepromCopy(const std::string& path);
