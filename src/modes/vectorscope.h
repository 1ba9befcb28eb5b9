// Vectorscope: each pixel's chroma as a 2x2 dot on a circular graticule.
#pragma once

#include <cstdint>

#include "core/frame.h"
#include "core/scope_instance.h"
#include "core/simd_level.h"

inline constexpr int32_t kVectorscopeSize = 632;

void prepareVectorscope(ScopeInstance& inst, OutputGeometry& geometry);
int renderVectorscope(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level);

// The colour differences B - Y and R - Y that the current luma rows can give
// over all 2^24 colours. The renderer stores dots without clipping only when
// this range keeps every dot inside the output frame.
struct ChromaReach {
    int32_t minBlue, maxBlue;  // B - Y
    int32_t minRed, maxRed;    // R - Y
};
ChromaReach chromaReach(const ScopeInstance& inst);
