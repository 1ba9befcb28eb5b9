// The row kernels written once over vector_ops.h's sets: sums of the tables'
// contributions, the clamp to 0..255 and the packing into words with
// saturating packs, eight (SSE2), sixteen (AVX2) or 32 (AVX-512) pixels at
// a time.
// Saturating int32 -> int16 -> uint8 is exactly the scalar clamp, since a
// 16.16 value shifted down always fits in 16 bits.
//
// SSE2 looks the tables up into small aligned runs first; AVX2 and AVX-512
// gather them straight into lanes, a chroma sample's two contributions in
// one 64-bit element. Where Y keeps its range, its contribution is a shift;
// the gathering sets also compute it from the table's fitted line (one
// multiply per part), where that line gives the table exactly.
//
// Included only by the x86/yuv_rows_*.cpp files; everything has internal
// linkage, so a wider body never stands in for a narrower one.
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

// The decoder's planes come from another core's cache or from memory, and
// the processor alone fetches them too late for the gathering kernel, which
// reads two luma rows and two chroma rows at once (it waited on half its
// luma loads): as it reads a row it fetches the same pixels of the next
// call's rows. An address, not a pointer: past the last rows it leaves the
// plane, and a fetch of any address is harmless.
KV_VECTOR_INLINE void fetchAhead(const uint8_t* p, ptrdiff_t ahead) {
    _mm_prefetch(
        reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(p) + static_cast<uintptr_t>(ahead)),
        _MM_HINT_T0);
}

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

// Y's contribution from the table's line, a multiply per part, at the
// widths that multiply 32-bit lanes in one instruction.
template <typename K>
KV_VECTOR_INLINE typename K::V yLineLanes(const uint8_t* p, const YuvTables& t) {
    using V = typename K::V;
    const V v = K::bytesToLanes(p);
    const YuvTables::Line& line = t.yLine;
    const V fraction = K::template sra<YuvTables::kLineShift>(
        K::add(K::mulLow32(v, K::set1(static_cast<uint32_t>(line.fraction))),
               K::set1(static_cast<uint32_t>(line.fractionBase))));
    return K::add(K::add(K::mulLow32(v, K::set1(static_cast<uint32_t>(line.slope))), fraction),
                  K::set1(static_cast<uint32_t>(t.y[0])));
}

// The gathering kernel's lookups, one set per width: Y's contribution from
// its table (a gather) or from the table's line (a multiply per part), and
// a vector of chroma samples' R, G and B contributions in sample order
// (two gathers each of Cr and Cb, a sample's pair in one 64-bit element).
template <typename K>
struct Gathers {
    static constexpr bool kAny = false;
};

#if defined(__AVX2__)
template <>
struct Gathers<VecAvx2> {
    static constexpr bool kAny = true;
    using V = __m256i;
    static KV_VECTOR_INLINE V yTable(const int32_t* table, const uint8_t* levels) {
        return _mm256_i32gather_epi32(table, VecAvx2::bytesToLanes(levels), sizeof(int32_t));
    }
    // The pairs of four samples: own, green, own, green ...
    static KV_VECTOR_INLINE V pairs(const YuvTables::Pair* table, const uint8_t* levels) {
        int32_t four;
        std::memcpy(&four, levels, sizeof four);
        const __m128i index = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(four));
        return _mm256_i32gather_epi64(reinterpret_cast<const long long*>(table), index,
                                      sizeof(YuvTables::Pair));
    }
    static KV_VECTOR_INLINE void chroma(const YuvTables& t, const uint8_t* cb, const uint8_t* cr, V& r, V& g,
                                        V& b) {
        const V cr0 = pairs(t.cr, cr), cr1 = pairs(t.cr, cr + 4);
        const V cb0 = pairs(t.cb, cb), cb1 = pairs(t.cb, cb + 4);
        const auto evens = [](V a, V c) {  // per 128-bit lane: a0 a2 c0 c2
            return _mm256_castps_si256(
                _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(c), _MM_SHUFFLE(2, 0, 2, 0)));
        };
        const auto odds = [](V a, V c) {
            return _mm256_castps_si256(
                _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(c), _MM_SHUFFLE(3, 1, 3, 1)));
        };
        // The shuffles leave samples 0 1 4 5 | 2 3 6 7; the permute puts them in order.
        constexpr int kOrder = _MM_SHUFFLE(3, 1, 2, 0);
        r = _mm256_permute4x64_epi64(evens(cr0, cr1), kOrder);
        b = _mm256_permute4x64_epi64(evens(cb0, cb1), kOrder);
        g = _mm256_permute4x64_epi64(odds(_mm256_add_epi32(cr0, cb0), _mm256_add_epi32(cr1, cb1)), kOrder);
    }
};
#endif

#if defined(__AVX512BW__)
template <>
struct Gathers<VecAvx512> {
    static constexpr bool kAny = true;
    using V = __m512i;
    static KV_VECTOR_INLINE V yTable(const int32_t* table, const uint8_t* levels) {
        return _mm512_i32gather_epi32(VecAvx512::bytesToLanes(levels), table, sizeof(int32_t));
    }
    // The pairs of eight samples: own, green, own, green ...
    static KV_VECTOR_INLINE V pairs(const YuvTables::Pair* table, const uint8_t* levels) {
        const __m256i index = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(levels)));
        return _mm512_i32gather_epi64(index, table, sizeof(YuvTables::Pair));
    }
    static KV_VECTOR_INLINE void chroma(const YuvTables& t, const uint8_t* cb, const uint8_t* cr, V& r, V& g,
                                        V& b) {
        const V cr0 = pairs(t.cr, cr), cr1 = pairs(t.cr, cr + 8);
        const V cb0 = pairs(t.cb, cb), cb1 = pairs(t.cb, cb + 8);
        // Across the whole vectors, so the samples come out in order.
        const V odd = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
        r = VecAvx512::evenLanes(cr0, cr1);
        b = VecAvx512::evenLanes(cb0, cb1);
        g = _mm512_permutex2var_epi32(_mm512_add_epi32(cr0, cb0), odd, _mm512_add_epi32(cr1, cb1));
    }
};
#endif

// How the gathering kernel finds Y's contribution.
enum class LumaBy { Step, Line, Table };

template <typename K, bool kPairs, LumaBy kLuma>
void yuvRowGathered(const YuvTables& t, const YuvRow& row) {
    using V = typename K::V;
    using G = Gathers<K>;
    constexpr int32_t kHalf = K::kLanes, kStep = 2 * kHalf;
    int32_t x = 0;
    for (; x + kStep <= row.w; x += kStep) {
        V r0, r1, g0, g1, b0, b1;
        const int32_t c = kPairs ? x / 2 : x;
        fetchAhead(row.cb + c, row.ahead[1]);
        fetchAhead(row.cr + c, row.ahead[2]);
        if constexpr (kPairs) {
            V r, g, b;
            G::chroma(t, row.cb + c, row.cr + c, r, g, b);
            r0 = K::spreadLow(r), r1 = K::spreadHigh(r);
            g0 = K::spreadLow(g), g1 = K::spreadHigh(g);
            b0 = K::spreadLow(b), b1 = K::spreadHigh(b);
        } else {
            G::chroma(t, row.cb + x, row.cr + x, r0, g0, b0);
            G::chroma(t, row.cb + x + kHalf, row.cr + x + kHalf, r1, g1, b1);
        }
        for (int32_t r = 0; r < row.rows; ++r) {
            const uint8_t* py = row.y[r] + x;
            fetchAhead(py, row.ahead[0]);
            V y0, y1;
            if constexpr (kLuma == LumaBy::Step) {
                yStepLanes<K>(py, t.y[0], y0, y1);
            } else if constexpr (kLuma == LumaBy::Line) {
                y0 = yLineLanes<K>(py, t), y1 = yLineLanes<K>(py + kHalf, t);
            } else {
                y0 = G::yTable(t.y, py), y1 = G::yTable(t.y, py + kHalf);
            }
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
    yuvRowByRuns<K, kSpread, kLuma == LumaBy::Step>(t, rest);
}

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
    if constexpr (Gathers<K>::kAny) {
        if (row.spread != ChromaSpread::Mapped) {
            const bool pairs = row.spread == ChromaSpread::Pairs;
            if (t.yStep)
                return pairs ? yuvRowGathered<K, true, LumaBy::Step>(t, row)
                             : yuvRowGathered<K, false, LumaBy::Step>(t, row);
            if (t.yOnLine)
                return pairs ? yuvRowGathered<K, true, LumaBy::Line>(t, row)
                             : yuvRowGathered<K, false, LumaBy::Line>(t, row);
            return pairs ? yuvRowGathered<K, true, LumaBy::Table>(t, row)
                         : yuvRowGathered<K, false, LumaBy::Table>(t, row);
        }
    }
    if (t.yStep)
        yuvRowByRunsAt<K, true>(t, row);
    else
        yuvRowByRunsAt<K, false>(t, row);
}

}  // namespace
