// Runs of 8-bit Y, with the chroma at each pixel in eighths of a level
// (fine_chroma.h), to the module's 0x00RRGGBB words, through fixed-point
// tables. The scalar kernel is the reference; the vector ones give the same
// words bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/simd_level.h"
#include "input/fine_chroma.h"

// Y's contribution, in 16.16 fixed point, to R, G and B, one entry a level
// (the half for rounding rides on it); chroma's, a multiple of its distance
// from the middle (fine_chroma.h), each factor within the 16 bits a vector
// multiply-add takes (the largest, BT.2020's blue from limited range, is
// about 17,500).
struct YuvTables {
    static constexpr int kLevels = 256;
    int32_t y[kLevels];
    struct Chroma {
        int16_t crRed, crGreen, cbGreen, cbBlue;
    };
    Chroma chroma;
    // Y's contribution as arithmetic, where it gives y[] exactly for every
    // level: y[v] == y[0] + v * slope + ((v * fraction + fractionBase) >> kLineShift).
    static constexpr int kLineShift = 23;  // any fraction below one fits: 255 * 2^23 < 2^31
    struct Line {
        int32_t slope, fraction, fractionBase;
    };
    Line yLine;
    bool yOnLine;
    bool yStep;  // on the line with slope 2^16 and no fraction, as when Y keeps its range
};

// Sets the line and the two flags from y[].
void fitLumaLine(YuvTables& t);

// One run of a row: each pixel's Y and its chroma's distance from the middle.
struct YuvRow {
    const uint8_t* y;
    const int16_t *cb, *cr;
    uint32_t* out;
    int32_t w;
    // Bytes from this row of Y to the next one read, which the vector
    // kernels fetch while they read this; past the last row it points
    // outside the plane, where a fetch does nothing.
    ptrdiff_t ahead;
};

using YuvRowKernel = void (*)(const YuvTables& t, const YuvRow& row);

void yuvRowScalar(const YuvTables& t, const YuvRow& row);

// The kernel of `level`: the fastest set at or below it this build has.
YuvRowKernel yuvRowKernel(SimdLevel level);
