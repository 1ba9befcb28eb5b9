// Level histograms per channel, with Min/Max, average luma and scale.
#pragma once

#include <cstdint>

#include "core/frame.h"
#include "core/scope_instance.h"
#include "core/simd_level.h"

inline constexpr int32_t kHistogramWidth = 360;
inline constexpr int32_t kHistogramHeight = 570;

void prepareHistograms(ScopeInstance& inst, OutputGeometry& geometry);
int renderHistograms(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level);

// The display's own count, for callers that want its numbers (the
// command-line host's report): adds every pixel's red, green, blue and
// clamped luma level to the four channels' counts, which the caller resets,
// and sets lumaSum. Returns the number of pixels counted.
int64_t countHistogramLevels(ScopeInstance& inst, const ConstFrame& src, SimdLevel level);
// The title's "AVD": the average luma of that count, 0 for no pixels.
int32_t histogramAverageLuma(const ScopeInstance& inst, int64_t pixels);
