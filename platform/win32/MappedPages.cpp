#include "platform/MappedPages.h"

#include <windows.h>

void* MapPages(std::size_t bytes) {
    return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void UnmapPages(void* pages, std::size_t) {
    VirtualFree(pages, 0, MEM_RELEASE);
}
