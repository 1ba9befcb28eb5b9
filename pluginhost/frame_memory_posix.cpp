#include "pluginhost/frame_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace {

// Linux's huge page: frames this large are aligned to it and offered to the
// kernel for huge pages (it may decline; they work either way).
constexpr size_t kHugePage = size_t{2} << 20;

size_t wholePages(size_t bytes) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return (bytes + page - 1) / page * page;
}

}  // namespace

void* allocateFrameMemory(size_t bytes) {
    if (bytes < kHugePage) return std::calloc(1, bytes == 0 ? 1 : bytes);
    // Straight from the kernel, which hands out zeroed pages (the allocator
    // may hand back a freed frame's, which would need clearing): a huge page
    // more than asked, so the frame can start on one, the rest given back.
    const size_t length = wholePages(bytes), span = length + kHugePage;
    void* mapped = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start) munmap(mapped, aligned - start);
    const uintptr_t end = aligned + length;
    if (start + span > end) munmap(reinterpret_cast<void*>(end), start + span - end);
    void* p = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
    (void)madvise(p, length - length % kHugePage, MADV_HUGEPAGE);  // advice only: refused, 4 KB pages serve
#endif
    return p;
}

void releaseFrameMemory(void* p, size_t bytes) {
    if (bytes < kHugePage)
        std::free(p);
    else
        munmap(p, wholePages(bytes));
}
