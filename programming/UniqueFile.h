#pragma once
// Files that no other run can take: several updates may run at once on one machine, in one
// process or in several, and each must find only its own data in its own files.

#include <cstddef>
#include <string>

struct FileResult {
    std::string Path;    // the file made; empty on failure
    int Error = 0;       // the OS's reason (errno) when it failed
    std::string Failed;  // the path the failure is about
};

// Claims stem + extension, or stem-2, stem-3, ... + extension when another run holds that
// name, by creating it exclusively (empty).
FileResult ClaimUniqueFile(const std::string& stem, const std::string& extension);

// Claims a name as above and writes the bytes into it with WriteFileDurably, so the name
// holds either nothing or the whole content. A failed write gives the name up again.
FileResult SaveUniqueFile(const std::string& stem, const std::string& extension, const void* data,
                          std::size_t size);

// Replaces the file at 'path' with the bytes: they go into a temporary file of a unique name,
// reach the disk and are renamed over 'path'. Returns errno, 0 on success.
int WriteFileDurably(const std::string& path, const void* data, std::size_t size);
