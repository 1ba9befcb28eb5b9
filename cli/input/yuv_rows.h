// Rows of 8-bit Y, Cb and Cr to the module's 0x00RRGGBB words, through
// fixed-point tables. The scalar kernel is the reference; the SSE2 and AVX2
// ones give the same words bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/simd_level.h"

// Each level's contribution, in 16.16 fixed point, to R, G and B; the half
// for rounding rides on Y.
struct YuvTables {
    static constexpr int kLevels = 256;
    // Cr's contributions to R and to G, Cb's to B and to G, side by side so
    // that one 64-bit read fetches a sample's pair.
    struct Pair {
        int32_t own, green;
    };
    int32_t y[kLevels];
    alignas(8) Pair cr[kLevels], cb[kLevels];
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

// Where a row's pixels take their chroma from.
enum class ChromaSpread {
    Each,    // pixel x reads sample x (4:4:4)
    Pairs,   // pixel x reads sample x / 2 (4:2:x)
    Mapped,  // pixel x reads sample column[x]
};

// One or two luma rows over the same chroma row (4:2:0 pairs its rows), so
// the chroma's contributions are looked up once for both.
struct YuvRow {
    static constexpr int32_t kMostRows = 2;
    const uint8_t* y[kMostRows];
    uint32_t* out[kMostRows];
    int32_t rows;
    const uint8_t *cb, *cr;
    int32_t w;
    ChromaSpread spread;
    const int32_t* column;  // for Mapped
    // Bytes from these rows of each plane (Y, Cb, Cr) to the rows the next
    // call reads, which the vector kernels fetch while they read these; past
    // the last rows they point outside the planes, where a fetch does nothing.
    ptrdiff_t ahead[3];
};

using YuvRowKernel = void (*)(const YuvTables& t, const YuvRow& row);

void yuvRowScalar(const YuvTables& t, const YuvRow& row);

// The kernel of `level`: the fastest set at or below it this build has.
YuvRowKernel yuvRowKernel(SimdLevel level);
