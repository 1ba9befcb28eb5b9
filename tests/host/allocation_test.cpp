// A host calls runProc for every frame and expects no heap traffic from it.
// This program replaces the global allocation functions with counting ones
// (and, on glibc, malloc and its kin) and drives every display through the
// module's callbacks and through every kernel level.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "modes/display_table.h"
#include "pluginhost/frame_buffer.h"
#include "support/rng.h"
#include "support/test_host.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void noteAllocation() {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
}

void* allocate(std::size_t n) {
    noteAllocation();
    if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
    std::abort();  // built without exceptions elsewhere; a failed test allocation ends the run
}

void* allocateAligned(std::size_t n, std::align_val_t a) {
    noteAllocation();
    const std::size_t align = static_cast<std::size_t>(a);
    // A block with room to align, the original pointer kept just before it.
    void* raw = std::malloc(n + align + sizeof(void*));
    if (raw == nullptr) std::abort();
    const auto start = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
    void* p = reinterpret_cast<void*>((start + align - 1) / align * align);
    std::memcpy(static_cast<char*>(p) - sizeof(void*), &raw, sizeof raw);
    return p;
}

void freeAligned(void* p) {
    if (p == nullptr) return;
    void* raw;
    std::memcpy(&raw, static_cast<char*>(p) - sizeof(void*), sizeof raw);
    std::free(raw);
}

}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new(std::size_t n, std::align_val_t a) { return allocateAligned(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return allocateAligned(n, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { freeAligned(p); }
void operator delete[](void* p, std::align_val_t) noexcept { freeAligned(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { freeAligned(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { freeAligned(p); }

#if defined(__GLIBC__) && !defined(KIVREL_SANITIZED)
#define KV_COUNTS_MALLOC 1
// C allocations too (a formatted print could make one), counted on the way
// to glibc's own functions.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t n) {
    noteAllocation();
    return __libc_malloc(n);
}
void* calloc(std::size_t n, std::size_t size) {
    noteAllocation();
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t n) {
    noteAllocation();
    return __libc_realloc(p, n);
}
}
#endif

namespace {

// Counts allocations between construction and count().
class AllocationWindow {
public:
    AllocationWindow() {
        allocations = 0;
        counting = true;
    }
    ~AllocationWindow() { counting = false; }
    long count() {
        counting = false;
        return allocations.load();
    }
};

constexpr DisplayMode kModes[] = {DisplayMode::Histograms, DisplayMode::HotPixel, DisplayMode::Video,
                                  DisplayMode::Waveform, DisplayMode::Vectorscope};

// A frame with levels spread over the whole range and some illegal colours,
// so the hot pixel scan runs its changes too.
void fillRandom(FrameBuffer& f, uint32_t seed) {
    TestRng rng{seed};
    Frame frame = f.frame();
    for (int32_t k = 0; k < frame.h; ++k)
        for (int32_t x = 0; x < frame.w; ++x) frame.storedRow(k)[x] = rng.next();
}

}  // namespace

TEST(Allocation, TheCounterSeesAllocations) {
    volatile size_t size = 10;
    {
        AllocationWindow window;
        std::vector<int> words(size);
        EXPECT_GE(window.count(), 1);
    }
#if KV_COUNTS_MALLOC
    AllocationWindow window;
    void* volatile block = malloc(size);
    free(block);
    EXPECT_EQ(window.count(), 1);
#endif
}

TEST(Allocation, RunProcAllocatesNothingPerFrame) {
    TestHost host;
    const sdk::FilterDefinition& filter = host.filter();
    for (DisplayMode mode : kModes) {
        for (int32_t hotFix = 0; hotFix < kHotFixCount; ++hotFix) {
            SCOPED_TRACE(std::string(kDisplayNames[static_cast<int>(mode)]) + " hotFix " +
                         std::to_string(hotFix));
            std::vector<unsigned char> record(static_cast<size_t>(filter.inst_data_size.value));
            ScopeInstance& inst = *reinterpret_cast<ScopeInstance*>(record.data());
            inst.settings = kDefaultSettings;
            inst.settings.mode = static_cast<int32_t>(mode);
            inst.settings.hotFix = hotFix;
            inst.settings.accum = 1;
            FrameBuffer src(333, 101, 4 * 335);
            fillRandom(src, 99);
            sdk::VFBitmap in{}, out{};
            src.describe(in);
            out = in;
            sdk::FilterActivation fa{};
            fa.filter = &filter;
            fa.filter_data = &inst;
            fa.src = &in;
            fa.dst = &out;
            filter.paramProc(&fa, nullptr);
            FrameBuffer dst(out.w, out.h, out.pitch + 8);
            dst.describe(out);

            AllocationWindow window;
            for (int frame = 0; frame < 3; ++frame) EXPECT_EQ(filter.runProc(&fa, nullptr), 0);
            EXPECT_EQ(window.count(), 0) << "runProc allocated";
        }
    }
}

TEST(Allocation, NoKernelLevelAllocates) {
    for (DisplayMode mode : kModes) {
        for (int32_t l = 0; l <= static_cast<int32_t>(machineSimdLevel()); ++l) {
            const SimdLevel level = static_cast<SimdLevel>(l);
            SCOPED_TRACE(std::string(kDisplayNames[static_cast<int>(mode)]) + " at " +
                         std::string(kSimdLevelNames[l]));
            static ScopeInstance inst;
            inst = ScopeInstance{};
            inst.settings = kDefaultSettings;
            inst.settings.mode = static_cast<int32_t>(mode);
            inst.settings.hotFix = kHotFixSaturation;
            FrameBuffer src(1280, 37, 4 * 1280);
            fillRandom(src, 7);
            OutputGeometry g{src.w(), src.h(), src.pitch()};
            prepareDisplay(inst, g);
            FrameBuffer dst(g.w, g.h, g.pitch);
            const FrameBuffer& source = src;

            AllocationWindow window;
            EXPECT_EQ(renderDisplayAt(inst, source.frame(), dst.frame(), level), 0);
            EXPECT_EQ(window.count(), 0) << "the renderer allocated";
        }
    }
}
