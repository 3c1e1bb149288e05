#pragma once
// Memory taken from the system in one call, its pages present at once instead of being
// faulted in one by one on the first write.

#include <cstddef>

// The pages, or nullptr when the system gives none (the caller falls back to new[]).
void* MapPages(std::size_t bytes);
void UnmapPages(void* pages, std::size_t bytes);
