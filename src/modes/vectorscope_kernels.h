// Row kernel of the vectorscope at the vector levels: each source word
// becomes the two table indexes of its dot, (B - Y) + 255 in the low half
// and (R - Y) + 255 in the high half, Y the clamped measuring luma.
#pragma once

#include <cstdint>

#include "measure/luma_form.h"

struct VectorscopeRowKernels {
    void (*indexes)(const AffineLuma& form, int32_t lumaOffset, const uint32_t* in, uint32_t* indexes,
                    int32_t n);
};

extern const VectorscopeRowKernels kVectorscopeRowsSse2;
extern const VectorscopeRowKernels kVectorscopeRowsAvx2;
