#pragma once
// Raw memory images of the simulated target: loaded before it starts, dumped at every
// end of programming mode and at exit.

#include <cstdint>
#include <string>
#include <vector>

// Copies the file into the start of 'memory'; the rest keeps its content. False with a
// message when the file cannot be read or is larger than the memory.
bool LoadRawImage(const std::string& path, std::vector<uint8_t>& memory, std::string& error);
// Replaces the file whole (written beside it, then renamed), so a reader never sees
// half a dump. False with a message on failure.
bool SaveRawImage(const std::string& path, const std::vector<uint8_t>& memory, std::string& error);
