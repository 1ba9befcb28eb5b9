// The row kernels written once over vector_ops.h's sets: sums of the tables'
// contributions, the clamp to 0..255 and the packing into words with
// saturating packs, eight (SSE2) or sixteen (AVX2) pixels at a time.
// Saturating int32 -> int16 -> uint8 is exactly the scalar clamp, since a
// 16.16 value shifted down always fits in 16 bits.
//
// SSE2 looks the tables up into small aligned runs first; AVX2 gathers them
// straight into lanes, a chroma sample's two contributions in one 64-bit
// element. Where Y keeps its range, its contribution is a shift; AVX2 also
// computes it from the table's fitted line (one multiply per part), where
// that line gives the table exactly.
//
// Included only by x86/yuv_rows_sse2.cpp and x86/yuv_rows_avx2.cpp; everything has
// internal linkage, so an AVX2 body never stands in for an SSE2 one.
#pragma once

#include <algorithm>
#include <cstring>

#include "core/vector_ops.h"
#include "input/yuv_rows_kernels.h"

namespace {

constexpr int kFixedShift = 16;  // 16.16 fixed point

template <typename K>
KV_VECTOR_INLINE typename K::V lanesAt(const int32_t* p) {
    return K::load(reinterpret_cast<const uint32_t*>(p));
}
// Y's contribution to 2 * kLanes pixels when it is y[0] + Y * 2^16.
template <typename K>
KV_VECTOR_INLINE void yStepLanes(const uint8_t* p, int32_t base, typename K::V& y0, typename K::V& y1) {
    const typename K::V b = K::set1(static_cast<uint32_t>(base));
    y0 = K::add(K::template sll<kFixedShift>(K::bytesToLanes(p)), b);
    y1 = K::add(K::template sll<kFixedShift>(K::bytesToLanes(p + K::kLanes)), b);
}
// Two vectors of 16.16 sums to one of signed 16-bit levels.
template <typename K>
KV_VECTOR_INLINE typename K::V levels16(typename K::V a, typename K::V b) {
    return K::packWords(K::template sra<kFixedShift>(a), K::template sra<kFixedShift>(b));
}
// Per 128-bit lane, the pack above and the interleaves here undo each
// other's order, so the words land in pixel order.
template <typename K>
KV_VECTOR_INLINE void storeWords(uint32_t* out, typename K::V r, typename K::V g, typename K::V b) {
    const typename K::V zero = K::zero();
    const typename K::V blueRed = K::packBytes(b, r), green = K::packBytes(g, zero);
    const typename K::V blueGreen = K::interleaveBytesLow(blueRed, green),
                        red = K::interleaveBytesHigh(blueRed, zero);
    K::store(out, K::interleaveWordsLow(blueGreen, red));
    K::store(out + K::kLanes, K::interleaveWordsHigh(blueGreen, red));
}

#if defined(__AVX2__)
// Y's contribution to eight pixels from the table's line.
KV_VECTOR_INLINE __m256i yLineLanes(const uint8_t* p, const YuvTables& t) {
    const __m256i v = VecAvx2::bytesToLanes(p);
    const YuvTables::Line& line = t.yLine;
    const __m256i fraction =
        _mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(v, _mm256_set1_epi32(line.fraction)),
                                           _mm256_set1_epi32(line.fractionBase)),
                          YuvTables::kLineShift);
    return _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(v, _mm256_set1_epi32(line.slope)), fraction),
                            _mm256_set1_epi32(t.y[0]));
}
#endif

// Pixels per pass of the run kernel: small enough for the runs to stay in
// L1, even so that a pass starts on a chroma pair.
constexpr int32_t kRun = 256;

template <typename K, ChromaSpread kSpread, bool kYStep>
void yuvRowByRuns(const YuvTables& t, const YuvRow& row) {
    using V = typename K::V;
    constexpr int32_t kLanes = K::kLanes, kStep = 2 * kLanes;
    constexpr bool kPairs = kSpread == ChromaSpread::Pairs;
    alignas(32) int32_t ys[kRun], rs[kRun], gs[kRun], bs[kRun];
    for (int32_t x0 = 0; x0 < row.w; x0 += kRun) {
        const int32_t n = std::min(kRun, row.w - x0);
        // The chroma contributions, once a sample, for every row.
        const int32_t samples = kPairs ? (n + 1) >> 1 : n;
        const int32_t first = kPairs ? x0 >> 1 : x0;
        for (int32_t j = 0; j < samples; ++j) {
            const int32_t c = kSpread == ChromaSpread::Mapped ? row.column[x0 + j] : first + j;
            const YuvTables::Pair cb = t.cb[row.cb[c]], cr = t.cr[row.cr[c]];
            rs[j] = cr.own;
            gs[j] = cb.green + cr.green;
            bs[j] = cb.own;
        }
        for (int32_t r = 0; r < row.rows; ++r) {
            const uint8_t* py = row.y[r] + x0;
            uint32_t* out = row.out[r] + x0;
            if constexpr (!kYStep)
                for (int32_t i = 0; i < n; ++i) ys[i] = t.y[py[i]];
            int32_t i = 0;
            for (; i + kStep <= n; i += kStep) {
                V y0, y1, r0, r1, g0, g1, b0, b1;
                if constexpr (kYStep) {
                    yStepLanes<K>(py + i, t.y[0], y0, y1);
                } else {
                    y0 = lanesAt<K>(ys + i), y1 = lanesAt<K>(ys + i + kLanes);
                }
                if constexpr (kPairs) {
                    const V red = lanesAt<K>(rs + i / 2), green = lanesAt<K>(gs + i / 2),
                            blue = lanesAt<K>(bs + i / 2);
                    r0 = K::spreadLow(red), r1 = K::spreadHigh(red);
                    g0 = K::spreadLow(green), g1 = K::spreadHigh(green);
                    b0 = K::spreadLow(blue), b1 = K::spreadHigh(blue);
                } else {
                    r0 = lanesAt<K>(rs + i), r1 = lanesAt<K>(rs + i + kLanes);
                    g0 = lanesAt<K>(gs + i), g1 = lanesAt<K>(gs + i + kLanes);
                    b0 = lanesAt<K>(bs + i), b1 = lanesAt<K>(bs + i + kLanes);
                }
                storeWords<K>(out + i, levels16<K>(K::add(y0, r0), K::add(y1, r1)),
                              levels16<K>(K::add(y0, g0), K::add(y1, g1)),
                              levels16<K>(K::add(y0, b0), K::add(y1, b1)));
            }
            for (; i < n; ++i) {
                const int32_t c = kPairs ? i >> 1 : i;
                out[i] = yuv_rows::word(t.y[py[i]], rs[c], gs[c], bs[c]);
            }
        }
    }
}

#if defined(__AVX2__)
KV_VECTOR_INLINE __m256i gather8(const int32_t* table, const uint8_t* levels) {
    return _mm256_i32gather_epi32(table, VecAvx2::bytesToLanes(levels), sizeof(int32_t));
}

// The pairs of four samples: own, green, own, green ...
KV_VECTOR_INLINE __m256i gatherPairs(const YuvTables::Pair* table, const uint8_t* levels) {
    int32_t four;
    std::memcpy(&four, levels, sizeof four);
    const __m128i index = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(four));
    return _mm256_i32gather_epi64(reinterpret_cast<const long long*>(table), index, sizeof(YuvTables::Pair));
}

// Eight samples' pairs (two gathers each of Cr and Cb) as R, G and B in
// sample order.
KV_VECTOR_INLINE void chromaLanes(const YuvTables& t, const uint8_t* cb, const uint8_t* cr, __m256i& r,
                                  __m256i& g, __m256i& b) {
    const __m256i cr0 = gatherPairs(t.cr, cr), cr1 = gatherPairs(t.cr, cr + 4);
    const __m256i cb0 = gatherPairs(t.cb, cb), cb1 = gatherPairs(t.cb, cb + 4);
    const auto evens = [](__m256i a, __m256i c) {  // per 128-bit lane: a0 a2 c0 c2
        return _mm256_castps_si256(
            _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(c), _MM_SHUFFLE(2, 0, 2, 0)));
    };
    const auto odds = [](__m256i a, __m256i c) {
        return _mm256_castps_si256(
            _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(c), _MM_SHUFFLE(3, 1, 3, 1)));
    };
    // The shuffles leave samples 0 1 4 5 | 2 3 6 7; the permute puts them in order.
    constexpr int kOrder = _MM_SHUFFLE(3, 1, 2, 0);
    r = _mm256_permute4x64_epi64(evens(cr0, cr1), kOrder);
    b = _mm256_permute4x64_epi64(evens(cb0, cb1), kOrder);
    g = _mm256_permute4x64_epi64(odds(_mm256_add_epi32(cr0, cb0), _mm256_add_epi32(cr1, cb1)), kOrder);
}

// How the gathering kernel finds Y's contribution.
enum class LumaBy { Step, Line, Table };

template <bool kPairs, LumaBy kLuma>
void yuvRowGathered(const YuvTables& t, const YuvRow& row) {
    constexpr int32_t kStep = 16, kHalf = kStep / 2;
    int32_t x = 0;
    for (; x + kStep <= row.w; x += kStep) {
        __m256i r0, r1, g0, g1, b0, b1;
        if constexpr (kPairs) {
            __m256i r, g, b;
            chromaLanes(t, row.cb + x / 2, row.cr + x / 2, r, g, b);
            r0 = VecAvx2::spreadLow(r), r1 = VecAvx2::spreadHigh(r);
            g0 = VecAvx2::spreadLow(g), g1 = VecAvx2::spreadHigh(g);
            b0 = VecAvx2::spreadLow(b), b1 = VecAvx2::spreadHigh(b);
        } else {
            chromaLanes(t, row.cb + x, row.cr + x, r0, g0, b0);
            chromaLanes(t, row.cb + x + kHalf, row.cr + x + kHalf, r1, g1, b1);
        }
        for (int32_t r = 0; r < row.rows; ++r) {
            const uint8_t* py = row.y[r] + x;
            __m256i y0, y1;
            if constexpr (kLuma == LumaBy::Step) {
                yStepLanes<VecAvx2>(py, t.y[0], y0, y1);
            } else if constexpr (kLuma == LumaBy::Line) {
                y0 = yLineLanes(py, t), y1 = yLineLanes(py + kHalf, t);
            } else {
                y0 = gather8(t.y, py), y1 = gather8(t.y, py + kHalf);
            }
            using K = VecAvx2;
            storeWords<K>(row.out[r] + x, levels16<K>(K::add(y0, r0), K::add(y1, r1)),
                          levels16<K>(K::add(y0, g0), K::add(y1, g1)),
                          levels16<K>(K::add(y0, b0), K::add(y1, b1)));
        }
    }
    if (x == row.w) return;
    // The last few pixels, by the runs.
    YuvRow rest = row;
    for (int32_t r = 0; r < row.rows; ++r) {
        rest.y[r] += x;
        rest.out[r] += x;
    }
    rest.cb += kPairs ? x / 2 : x;
    rest.cr += kPairs ? x / 2 : x;
    rest.w -= x;
    constexpr ChromaSpread kSpread = kPairs ? ChromaSpread::Pairs : ChromaSpread::Each;
    yuvRowByRuns<VecAvx2, kSpread, kLuma == LumaBy::Step>(t, rest);
}
#endif

template <typename K, bool kYStep>
void yuvRowByRunsAt(const YuvTables& t, const YuvRow& row) {
    switch (row.spread) {
    case ChromaSpread::Each: return yuvRowByRuns<K, ChromaSpread::Each, kYStep>(t, row);
    case ChromaSpread::Pairs: return yuvRowByRuns<K, ChromaSpread::Pairs, kYStep>(t, row);
    case ChromaSpread::Mapped: return yuvRowByRuns<K, ChromaSpread::Mapped, kYStep>(t, row);
    }
}

template <typename K>
void yuvRowAt(const YuvTables& t, const YuvRow& row) {
#if defined(__AVX2__)
    if (K::kLanes == VecAvx2::kLanes && row.spread != ChromaSpread::Mapped) {
        const bool pairs = row.spread == ChromaSpread::Pairs;
        if (t.yStep)
            return pairs ? yuvRowGathered<true, LumaBy::Step>(t, row)
                         : yuvRowGathered<false, LumaBy::Step>(t, row);
        if (t.yOnLine)
            return pairs ? yuvRowGathered<true, LumaBy::Line>(t, row)
                         : yuvRowGathered<false, LumaBy::Line>(t, row);
        return pairs ? yuvRowGathered<true, LumaBy::Table>(t, row)
                     : yuvRowGathered<false, LumaBy::Table>(t, row);
    }
#endif
    if (t.yStep)
        yuvRowByRunsAt<K, true>(t, row);
    else
        yuvRowByRunsAt<K, false>(t, row);
}

}  // namespace
