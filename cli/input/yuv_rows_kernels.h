// What the row kernels share: the scalar word, and the kernel sets, one per
// instruction set.
#pragma once

#include "input/yuv_rows.h"

namespace yuv_rows {

inline uint32_t level(int32_t fixed) {
    constexpr int32_t kTop = 255;
    const int32_t v = fixed >> 16;
    return static_cast<uint32_t>(v < 0 ? 0 : v > kTop ? kTop : v);
}

// One pixel from its Y contribution and its chroma's to R, G and B.
inline uint32_t word(int32_t y, int32_t r, int32_t g, int32_t b) {
    return level(y + r) << 16 | level(y + g) << 8 | level(y + b);
}

// Chroma's contributions to R, G and B of one pixel.
inline void chroma(const YuvTables::Chroma& c, int32_t cb, int32_t cr, int32_t& r, int32_t& g, int32_t& b) {
    r = c.crRed * cr;
    g = c.cbGreen * cb + c.crGreen * cr;
    b = c.cbBlue * cb;
}

}  // namespace yuv_rows

// One set per level, as the filter's units keep theirs; each x86 set is
// built in its own file under x86/.
struct YuvRowKernels {
    YuvRowKernel row;
};
extern const YuvRowKernels kYuvRowsSse2;
extern const YuvRowKernels kYuvRowsAvx2;
extern const YuvRowKernels kYuvRowsAvx512;
