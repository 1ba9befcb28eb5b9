#include "pluginhost/frame_memory.h"

#include <sys/mman.h>

#include <cstdlib>

namespace {

// Linux's huge page: frames this large are aligned to it and offered to the
// kernel for huge pages (it may decline; they work either way).
constexpr size_t kHugePage = size_t{2} << 20;

}  // namespace

void* allocateFrameMemory(size_t bytes) {
    if (bytes < kHugePage) return std::malloc(bytes == 0 ? 1 : bytes);
    void* p = nullptr;
    if (posix_memalign(&p, kHugePage, bytes) != 0) return nullptr;
#if defined(MADV_HUGEPAGE)
    (void)madvise(p, bytes - bytes % kHugePage, MADV_HUGEPAGE);  // advice only: refused, 4 KB pages serve
#endif
    return p;
}

void releaseFrameMemory(void* p, size_t) { std::free(p); }
