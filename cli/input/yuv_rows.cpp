#include "input/yuv_rows.h"

#include "input/yuv_rows_kernels.h"

#include <algorithm>
#include <climits>
#include <cstdint>

using yuv_rows::word;

namespace {

int64_t floorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

}  // namespace

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

void fitLumaLine(YuvTables& t) {
    constexpr int32_t kTop = YuvTables::kLevels - 1;
    constexpr int64_t kOne = int64_t{1} << YuvTables::kLineShift;
    const int64_t rise = int64_t{t.y[kTop]} - t.y[0];
    const int64_t slope = rise >= 0 ? rise / kTop : -((-rise + kTop - 1) / kTop);  // floor
    // What the slope leaves; the fraction must keep every level's residue:
    // residue * one <= v * fraction + base < (residue + 1) * one.
    int64_t residue[YuvTables::kLevels];
    for (int32_t v = 0; v <= kTop; ++v) residue[v] = int64_t{t.y[v]} - t.y[0] - slope * v;
    // Any two levels u > v bound the fraction from both sides.
    int64_t least = 0, most = INT32_MAX / kTop;
    for (int32_t u = 1; u <= kTop; ++u)
        for (int32_t v = 0; v < u; ++v) {
            const int64_t d = residue[u] - residue[v], gap = u - v;
            least = std::max(least, floorDiv((d - 1) * kOne, gap) + 1);
            most = std::min(most, -floorDiv(-(d + 1) * kOne, gap) - 1);
        }
    // Within those bounds every fraction has a base; the least is taken.
    int64_t lo = INT64_MIN;
    for (int32_t v = 0; v <= kTop; ++v) lo = std::max(lo, residue[v] * kOne - least * v);
    t.yOnLine = least <= most && lo >= INT32_MIN / 2 && lo <= INT32_MAX / 2 && slope >= INT32_MIN / kTop &&
                slope <= INT32_MAX / kTop;
    if (t.yOnLine)
        t.yLine = {static_cast<int32_t>(slope), static_cast<int32_t>(least), static_cast<int32_t>(lo)};
    constexpr int32_t kStep = 1 << 16;  // one level in 16.16
    t.yStep = t.yOnLine && t.yLine.slope == kStep && t.yLine.fraction == 0 &&
              (t.yLine.fractionBase >> YuvTables::kLineShift) == 0;
}

namespace {

const YuvRowKernels kYuvRowsScalar = {yuvRowScalar};
KernelTable<YuvRowKernels> kYuvRowTable = {&kYuvRowsScalar,
                                           KIVREL_X86_SETS(kYuvRowsSse2, kYuvRowsAvx2, kYuvRowsAvx512)};

}  // namespace

YuvRowKernel yuvRowKernel(SimdLevel level) { return kernelsFor(level, kYuvRowTable).row; }
