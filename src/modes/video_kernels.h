// Row kernels of the video view, one set per level, the scalar set first. A row of n source
// words becomes n output words.
#pragma once

#include <cstdint>

#include "core/simd_level.h"
#include "measure/luma_form.h"

struct VideoRowKernels {
    void (*mask)(const uint32_t* in, uint32_t* out, int32_t n, uint32_t mask);
    // Grey of the weight sum without the added 1; `offsetGrey` is
    // lumaOffset * 0x010101 (modulo 2^32), added to every output word.
    void (*grey)(const AffineLuma& form, uint32_t offsetGrey, const uint32_t* in, uint32_t* out, int32_t n);
};

extern const VideoRowKernels kVideoRowsSse2;
extern const VideoRowKernels kVideoRowsAvx2;
extern const VideoRowKernels kVideoRowsAvx512;

// The set of `level`, for the view and for the kernel runner.
const VideoRowKernels& videoRowKernels(SimdLevel level);
