// Where frames live. A 1080p frame is 8 MB and a run keeps a handful; each
// is written whole as soon as it is made, so the allocator neither zeroes
// it first (the frame's own fill is the one pass) nor, where the system
// allows, takes it in 4 KB pages, whose first-touch faults cost more than
// the fill itself.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

// The platform's side: memory for `bytes`, or null; and its release.
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
