#pragma once
// The firmware the benchmarks program: the same random bytes for the same key on every run,
// so that samples and runs compare.

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/TestData.h"

// Writes 'bytes' random bytes as folder/image.bin and returns its path.
inline std::string WriteRandomImage(const std::string& folder, std::size_t bytes, unsigned key) {
    const std::vector<uint8_t> image = RandomBytes(bytes, key);
    const std::string path = folder + "/image.bin";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    return path;
}
