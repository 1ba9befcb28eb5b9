// Hot pixel scan: pixels whose colour is illegal for broadcast are turned
// black or pulled back into the legal range; legal pixels pass unchanged.
#pragma once

#include <cstdint>

#include "core/frame.h"
#include "core/scope_instance.h"
#include "modes/hotpixel_kernels.h"
#include "modes/simd_level.h"

// Colour-model rows of weightTable and hotLimits (parameter stage).
void prepareHotPixel(ScopeInstance& inst, OutputGeometry& geometry);
// One pixel through the test; no side effects.
uint32_t hotPixelTest(const ScopeInstance& inst, uint32_t px);
int renderHotPixel(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level);

// The scan's decision alone, for callers that want its numbers (the
// command-line host's report): whether the pixel is hot, that is, whether
// the scan changes it (to black: to 0).
bool isHotPixel(const ScopeInstance& inst, uint32_t px);
// How many pixels of `src` are hot, decided with the kernels of `level`.
int64_t countHotPixels(const ScopeInstance& inst, const ConstFrame& src, SimdLevel level);

// The same count, set up once for many frames or parts of them (bands of
// rows, counted on several threads at once). `inst` must outlive it.
class HotPixelCounter {
public:
    HotPixelCounter(const ScopeInstance& inst, SimdLevel level);
    int64_t count(const ConstFrame& src) const;

private:
    const ScopeInstance& inst_;
    const HotPixelKernels* kernels_;  // null: the scalar test
    HotPackedRows packed_;
};
