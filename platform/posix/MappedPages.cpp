#include "platform/MappedPages.h"

#include <sys/mman.h>

void* MapPages(std::size_t bytes) {
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_POPULATE
    flags |= MAP_POPULATE;
#endif
    void* map = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, flags, -1, 0);
    return map == MAP_FAILED ? nullptr : map;
}

void UnmapPages(void* pages, std::size_t bytes) {
    ::munmap(pages, bytes);
}
