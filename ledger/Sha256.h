#pragma once
// SHA-256 digests of the files a run used, as the ledger records them.

#include <cstddef>
#include <string>

// Lower-case hex, 64 characters.
std::string Sha256Hex(const void* data, std::size_t size);
inline std::string Sha256Hex(const std::string& bytes) {
    return Sha256Hex(bytes.data(), bytes.size());
}

// The digest of a whole file; empty when the file cannot be read (errno set).
std::string FileSha256Hex(const std::string& path);
