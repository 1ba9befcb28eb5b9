// Where frames live. A 1080p frame is 8 MB and a run keeps a handful. Its
// memory reads as zero from the start: large frames are fresh pages from the
// system, which clears them anyway, so a frame that starts black is never
// written before its first use (a fill pass cost a run as much as
// converting several frames). Where the system allows, they come in huge
// pages, whose first-touch faults cost less than 4 KB pages'.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

// The platform's side: memory for `bytes` that reads as zero, or null; and its release.
void* allocateFrameMemory(size_t bytes);
void releaseFrameMemory(void* p, size_t bytes);

template <typename T>
struct FrameAllocator {
    using value_type = T;
    FrameAllocator() = default;
    template <typename U>
    FrameAllocator(const FrameAllocator<U>&) noexcept {}

    T* allocate(size_t n) {
        if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        void* p = allocateFrameMemory(n * sizeof(T));
        if (p == nullptr) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t n) noexcept { releaseFrameMemory(p, n * sizeof(T)); }
    // Default-inserted elements are left as they come: the owner writes them.
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
    template <typename U>
    bool operator==(const FrameAllocator<U>&) const noexcept {
        return true;
    }
};
