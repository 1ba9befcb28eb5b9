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
    for (int32_t x = 0; x < row.w; ++x) {
        int32_t r, g, b;
        yuv_rows::chroma(t.chroma, row.cb[x], row.cr[x], r, g, b);
        row.out[x] = word(t.y[row.y[x]], r, g, b);
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
