// Level histograms per channel, with Min/Max, average luma and scale.
#pragma once

#include <cstdint>

#include "core/frame.h"
#include "core/scope_instance.h"
#include "modes/simd_level.h"

inline constexpr int32_t kHistogramWidth = 360;
inline constexpr int32_t kHistogramHeight = 570;

void prepareHistograms(ScopeInstance& inst, OutputGeometry& geometry);
int renderHistograms(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level);
