// Row kernel of the histograms at the vector levels: each source word
// becomes its red, green and blue bytes with the clamped measuring luma in
// the top byte, which the counting loop then reads with one load.
#pragma once

#include <cstdint>

#include "modes/luma_form.h"

struct HistogramRowKernels {
    void (*levels)(const AffineLuma& form, int32_t lumaOffset, const uint32_t* in, uint32_t* levels,
                   int32_t n);
};

extern const HistogramRowKernels kHistogramRowsSse2;
extern const HistogramRowKernels kHistogramRowsAvx2;
