// Level histograms per channel, with Min/Max, average luma and scale.
#pragma once

#include <cstdint>

#include "draw/frame.h"
#include "host/scope_instance.h"
#include "params/param_stage.h"

inline constexpr int32_t kHistogramWidth = 360;
inline constexpr int32_t kHistogramHeight = 570;

void prepareHistograms(ScopeInstance& inst, OutputGeometry& geometry);
int renderHistograms(ScopeInstance& inst, const ConstFrame& src, const Frame& dst);
