// The row kernel written once over the vector type: table lookups into
// small aligned runs, then the sums, the clamp to 0..255 and the packing
// into words with saturating packs, eight or sixteen pixels at a time.
// Saturating int32 -> int16 -> uint8 is exactly the scalar clamp, since a
// 16.16 value shifted down always fits in 16 bits.
//
// Included only by yuv_rows_sse2.cpp and yuv_rows_avx2.cpp; everything has
// internal linkage, so an AVX2 body never stands in for an SSE2 one.
#pragma once

#include <emmintrin.h>
#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include <algorithm>

#include "input/yuv_rows_kernels.h"

#define KV_YUV_INLINE inline __attribute__((always_inline))

namespace {

KV_YUV_INLINE __m128i loadLanes(const int32_t* p, __m128i) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(p));
}
KV_YUV_INLINE __m128i add(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
// Lanes 0, 0, 1, 1 ... of the first half, then of the second.
KV_YUV_INLINE __m128i spreadLow(__m128i c) { return _mm_unpacklo_epi32(c, c); }
KV_YUV_INLINE __m128i spreadHigh(__m128i c) { return _mm_unpackhi_epi32(c, c); }
// Two vectors of 16.16 sums to one of signed 16-bit levels.
KV_YUV_INLINE __m128i levels16(__m128i a, __m128i b) {
    return _mm_packs_epi32(_mm_srai_epi32(a, 16), _mm_srai_epi32(b, 16));
}
// Per 128-bit lane, the pack above and the unpacks here undo each other's
// interleaving, so the words land in pixel order.
KV_YUV_INLINE void storeWords(uint32_t* out, __m128i r, __m128i g, __m128i b) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i blueRed = _mm_packus_epi16(b, r), green = _mm_packus_epi16(g, zero);
    const __m128i blueGreen = _mm_unpacklo_epi8(blueRed, green), red = _mm_unpackhi_epi8(blueRed, zero);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(blueGreen, red));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out) + 1, _mm_unpackhi_epi16(blueGreen, red));
}

#if defined(__AVX2__)
KV_YUV_INLINE __m256i loadLanes(const int32_t* p, __m256i) {
    return _mm256_load_si256(reinterpret_cast<const __m256i*>(p));
}
KV_YUV_INLINE __m256i add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
KV_YUV_INLINE __m256i spreadLow(__m256i c) {
    return _mm256_permutevar8x32_epi32(c, _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3));
}
KV_YUV_INLINE __m256i spreadHigh(__m256i c) {
    return _mm256_permutevar8x32_epi32(c, _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7));
}
KV_YUV_INLINE __m256i levels16(__m256i a, __m256i b) {
    return _mm256_packs_epi32(_mm256_srai_epi32(a, 16), _mm256_srai_epi32(b, 16));
}
KV_YUV_INLINE void storeWords(uint32_t* out, __m256i r, __m256i g, __m256i b) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i blueRed = _mm256_packus_epi16(b, r), green = _mm256_packus_epi16(g, zero);
    const __m256i blueGreen = _mm256_unpacklo_epi8(blueRed, green), red = _mm256_unpackhi_epi8(blueRed, zero);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_unpacklo_epi16(blueGreen, red));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out) + 1, _mm256_unpackhi_epi16(blueGreen, red));
}
#endif

// Pixels per pass: small enough for the runs to stay in L1, even so that a
// pass starts on a chroma pair.
constexpr int32_t kRun = 256;

template <typename V, ChromaSpread kSpread>
void yuvRowOf(const YuvTables& t, const YuvRow& row) {
    constexpr int32_t kLanes = sizeof(V) / sizeof(int32_t), kStep = 2 * kLanes;
    constexpr bool kPairs = kSpread == ChromaSpread::Pairs;
    alignas(32) int32_t ys[kRun], rs[kRun], gs[kRun], bs[kRun];
    for (int32_t x0 = 0; x0 < row.w; x0 += kRun) {
        const int32_t n = std::min(kRun, row.w - x0);
        const uint8_t* py = row.y + x0;
        for (int32_t i = 0; i < n; ++i) ys[i] = t.y[py[i]];
        // The chroma contributions, once a sample.
        const int32_t samples = kPairs ? (n + 1) >> 1 : n;
        const int32_t first = kPairs ? x0 >> 1 : x0;
        for (int32_t j = 0; j < samples; ++j) {
            const int32_t c = kSpread == ChromaSpread::Mapped ? row.column[x0 + j] : first + j;
            const uint8_t cb = row.cb[c], cr = row.cr[c];
            rs[j] = t.rCr[cr];
            gs[j] = t.gCb[cb] + t.gCr[cr];
            bs[j] = t.bCb[cb];
        }
        uint32_t* out = row.out + x0;
        int32_t i = 0;
        for (; i + kStep <= n; i += kStep) {
            const V y0 = loadLanes(ys + i, V{}), y1 = loadLanes(ys + i + kLanes, V{});
            V r0, r1, g0, g1, b0, b1;
            if constexpr (kPairs) {
                const V r = loadLanes(rs + i / 2, V{}), g = loadLanes(gs + i / 2, V{}),
                        b = loadLanes(bs + i / 2, V{});
                r0 = spreadLow(r), r1 = spreadHigh(r);
                g0 = spreadLow(g), g1 = spreadHigh(g);
                b0 = spreadLow(b), b1 = spreadHigh(b);
            } else {
                r0 = loadLanes(rs + i, V{}), r1 = loadLanes(rs + i + kLanes, V{});
                g0 = loadLanes(gs + i, V{}), g1 = loadLanes(gs + i + kLanes, V{});
                b0 = loadLanes(bs + i, V{}), b1 = loadLanes(bs + i + kLanes, V{});
            }
            storeWords(out + i, levels16(add(y0, r0), add(y1, r1)), levels16(add(y0, g0), add(y1, g1)),
                       levels16(add(y0, b0), add(y1, b1)));
        }
        for (; i < n; ++i) {
            const int32_t c = kPairs ? i >> 1 : i;
            out[i] = yuv_rows::word(ys[i], rs[c], gs[c], bs[c]);
        }
    }
}

#if defined(__AVX2__)
// With gathers the tables are read straight into lanes, no runs in between;
// the rare mapped chroma keeps the runs.
KV_YUV_INLINE __m256i gather8(const int32_t* table, const uint8_t* levels) {
    const __m256i index = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(levels)));
    return _mm256_i32gather_epi32(table, index, sizeof(int32_t));
}

template <bool kPairs>
void yuvRowGathered(const YuvTables& t, const YuvRow& row) {
    constexpr int32_t kStep = 16;
    uint32_t* out = row.out;
    int32_t x = 0;
    for (; x + kStep <= row.w; x += kStep) {
        const __m256i y0 = gather8(t.y, row.y + x), y1 = gather8(t.y, row.y + x + kStep / 2);
        __m256i r0, r1, g0, g1, b0, b1;
        if constexpr (kPairs) {
            const uint8_t *cb = row.cb + x / 2, *cr = row.cr + x / 2;
            const __m256i r = gather8(t.rCr, cr), b = gather8(t.bCb, cb);
            const __m256i g = _mm256_add_epi32(gather8(t.gCb, cb), gather8(t.gCr, cr));
            r0 = spreadLow(r), r1 = spreadHigh(r);
            g0 = spreadLow(g), g1 = spreadHigh(g);
            b0 = spreadLow(b), b1 = spreadHigh(b);
        } else {
            const uint8_t *cb = row.cb + x, *cr = row.cr + x;
            r0 = gather8(t.rCr, cr), r1 = gather8(t.rCr, cr + kStep / 2);
            b0 = gather8(t.bCb, cb), b1 = gather8(t.bCb, cb + kStep / 2);
            g0 = _mm256_add_epi32(gather8(t.gCb, cb), gather8(t.gCr, cr));
            g1 = _mm256_add_epi32(gather8(t.gCb, cb + kStep / 2), gather8(t.gCr, cr + kStep / 2));
        }
        storeWords(out + x, levels16(add(y0, r0), add(y1, r1)), levels16(add(y0, g0), add(y1, g1)),
                   levels16(add(y0, b0), add(y1, b1)));
    }
    if (x == row.w) return;
    // The last few pixels, by the runs.
    YuvRow rest = row;
    rest.y += x;
    rest.cb += kPairs ? x / 2 : x;
    rest.cr += kPairs ? x / 2 : x;
    rest.out += x;
    rest.w -= x;
    yuvRowOf<__m256i, kPairs ? ChromaSpread::Pairs : ChromaSpread::Each>(t, rest);
}
#endif

template <typename V>
void yuvRowAt(const YuvTables& t, const YuvRow& row) {
#if defined(__AVX2__)
    switch (row.spread) {
    case ChromaSpread::Each: return yuvRowGathered<false>(t, row);
    case ChromaSpread::Pairs: return yuvRowGathered<true>(t, row);
    case ChromaSpread::Mapped: return yuvRowOf<V, ChromaSpread::Mapped>(t, row);
    }
#else
    switch (row.spread) {
    case ChromaSpread::Each: return yuvRowOf<V, ChromaSpread::Each>(t, row);
    case ChromaSpread::Pairs: return yuvRowOf<V, ChromaSpread::Pairs>(t, row);
    case ChromaSpread::Mapped: return yuvRowOf<V, ChromaSpread::Mapped>(t, row);
    }
#endif
}

}  // namespace
