// Waveform monitor: per source column, which levels occur and how often.
#pragma once

#include <cstdint>

#include "core/frame.h"
#include "core/scope_instance.h"
#include "core/simd_level.h"

inline constexpr int32_t kWaveformScaleMargin = 40;  // level scale right of the picture

void prepareWaveform(ScopeInstance& inst, OutputGeometry& geometry);
int renderWaveform(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level);
