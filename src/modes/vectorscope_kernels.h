// Row kernel of the vectorscope, one set per level, the scalar set first: each source word
// becomes the two table indexes of its dot, (B - Y) + 255 in the low half
// and (R - Y) + 255 in the high half, Y the clamped measuring luma.
#pragma once

#include <cstdint>

#include "core/simd_level.h"
#include "measure/luma_form.h"

inline constexpr int kIndexRedShift = 16;  // the (R - Y) index's place in an index word

struct VectorscopeRowKernels {
    void (*indexes)(const AffineLuma& form, int32_t lumaOffset, const uint32_t* in, uint32_t* indexes,
                    int32_t n);
};

extern const VectorscopeRowKernels kVectorscopeRowsSse2;
extern const VectorscopeRowKernels kVectorscopeRowsAvx2;

// The set of `level`, for the display and for the kernel runner.
const VectorscopeRowKernels& vectorscopeRowKernels(SimdLevel level);
