#include "input/yuv_rows.h"

#include "input/yuv_rows_kernels.h"

using yuv_rows::word;

void yuvRowScalar(const YuvTables& t, const YuvRow& row) {
    const int32_t w = row.w;
    for (int32_t r = 0; r < row.rows; ++r) {
        const uint8_t* y = row.y[r];
        uint32_t* out = row.out[r];
        if (row.spread == ChromaSpread::Pairs) {
            // Each chroma sample's contributions once, for the two pixels it covers.
            for (int32_t x = 0; x < w; x += 2) {
                const YuvTables::Pair cb = t.cb[row.cb[x >> 1]], cr = t.cr[row.cr[x >> 1]];
                const int32_t red = cr.own, green = cb.green + cr.green, blue = cb.own;
                out[x] = word(t.y[y[x]], red, green, blue);
                if (x + 1 < w) out[x + 1] = word(t.y[y[x + 1]], red, green, blue);
            }
            continue;
        }
        for (int32_t x = 0; x < w; ++x) {
            const int32_t cx = row.spread == ChromaSpread::Mapped ? row.column[x] : x;
            const YuvTables::Pair cb = t.cb[row.cb[cx]], cr = t.cr[row.cr[cx]];
            out[x] = word(t.y[y[x]], cr.own, cb.green + cr.green, cb.own);
        }
    }
}

YuvRowKernel yuvRowKernel(SimdLevel level) {
#if KIVREL_X86_KERNELS
    if (level >= SimdLevel::Avx2) return yuvRowAvx2;
    if (level >= SimdLevel::Sse2) return yuvRowSse2;
#endif
    (void)level;
    return yuvRowScalar;
}
