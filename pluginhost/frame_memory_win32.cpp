#include "pluginhost/frame_memory.h"

#include <windows.h>

#include <cstdlib>

namespace {

// Frames from here up are taken from the system whole, which hands out zeroed pages.
constexpr size_t kWholePages = size_t{1} << 20;

}  // namespace

// Large pages on Windows need a privilege users rarely hold: plain pages.
void* allocateFrameMemory(size_t bytes) {
    if (bytes < kWholePages) return std::calloc(1, bytes == 0 ? 1 : bytes);
    return VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void releaseFrameMemory(void* p, size_t bytes) {
    if (bytes < kWholePages)
        std::free(p);
    else
        VirtualFree(p, 0, MEM_RELEASE);
}
