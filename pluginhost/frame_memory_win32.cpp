#include "pluginhost/frame_memory.h"

#include <cstdlib>

// Large pages on Windows need a privilege users rarely hold: plain memory.
void* allocateFrameMemory(size_t bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }

void releaseFrameMemory(void* p, size_t) { std::free(p); }
