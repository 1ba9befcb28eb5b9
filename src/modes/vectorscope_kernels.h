// Row kernel of the vectorscope, one set per level, the scalar set first:
// each source word becomes the byte offset of its dot's upper row in the
// output frame, its columns and rows from the colour differences B - Y and
// R - Y through the scale tables' arithmetic form, Y the clamped measuring luma.
#pragma once

#include <cstdint>

#include "core/simd_level.h"
#include "measure/luma_form.h"

// A uScale or vScale table as arithmetic: entry 255 + d is
// sign(d) * (whole * |d| + ((|d| * fraction) >> 16)) for every d in
// -255..255. Like the luma rows' form it is found from the table each frame.
struct ChromaScaleForm {
    int16_t whole;
    uint16_t fraction;
};

// Where a pixel's dot goes: byte offset origin + u * 4 + v * rowStep, u and v
// the scale tables' entries for its B - Y and R - Y.
struct DotPlacement {
    AffineLuma luma;
    int32_t lumaOffset;
    ChromaScaleForm u, v;
    int16_t rowStep;  // bytes from the stored row of one v to that of v + 1
    int32_t origin;   // the neutral dot's upper row and left column
};

struct VectorscopeRowKernels {
    void (*offsets)(const DotPlacement& place, const uint32_t* in, int32_t* offsets, int32_t n);
};

extern const VectorscopeRowKernels kVectorscopeRowsSse2;
extern const VectorscopeRowKernels kVectorscopeRowsAvx2;
extern const VectorscopeRowKernels kVectorscopeRowsAvx512;

// The set of `level`, for the display and for the kernel runner.
const VectorscopeRowKernels& vectorscopeRowKernels(SimdLevel level);

// True, with the form filled in, when the 511 entries of `table` have it.
bool findChromaScaleForm(const int32_t* table, ChromaScaleForm& form);
