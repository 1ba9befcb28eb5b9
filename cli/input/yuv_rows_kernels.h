// What the row kernels share: the scalar word, and the vector kernels, one
// per instruction set, each built in its own file.
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

}  // namespace yuv_rows

#if KIVREL_X86_KERNELS
void yuvRowSse2(const YuvTables& t, const YuvRow& row);
void yuvRowAvx2(const YuvTables& t, const YuvRow& row);
#endif
