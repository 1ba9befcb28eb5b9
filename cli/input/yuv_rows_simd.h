// The row kernels written once over vector_ops.h's sets: Y's contribution,
// chroma's from its distances by one multiply-add each, the clamp to 0..255
// and the packing into words with saturating packs, eight (SSE2), sixteen
// (AVX2) or 32 (AVX-512) pixels at a time.
// Saturating int32 -> int16 -> uint8 is exactly the scalar clamp, since a
// 16.16 value shifted down always fits in 16 bits.
//
// Where Y keeps its range, its contribution is a shift; the AVX2 and AVX-512
// sets also compute it from the table's fitted line (one multiply per part),
// where that line gives the table exactly, and gather it from the table
// otherwise; SSE2 looks the table up into a small aligned run first.
//
// Included only by the x86/yuv_rows_*.cpp files; everything has internal
// linkage, so a wider body never stands in for a narrower one.
#pragma once

#include <algorithm>

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

// Chroma's contributions to kLanes pixels: each distance zero-extended into
// the low half of a lane (a multiply-add reads it back signed), Cb and Cr
// side by side for green.
template <typename K>
KV_VECTOR_INLINE void chromaLanes(const YuvTables::Chroma& c, const int16_t* cb, const int16_t* cr,
                                  typename K::V& r, typename K::V& g, typename K::V& b) {
    using V = typename K::V;
    constexpr int kHalfLane = 16;
    const V cbs = K::wordsToLanes(reinterpret_cast<const uint16_t*>(cb));
    const V crs = K::wordsToLanes(reinterpret_cast<const uint16_t*>(cr));
    const V both = K::orv(cbs, K::template sll<kHalfLane>(crs));
    r = K::madd(crs, K::setWords(c.crRed, 0));
    g = K::madd(both, K::setWords(c.cbGreen, c.crGreen));
    b = K::madd(cbs, K::setWords(c.cbBlue, 0));
}

// Y's contribution gathered from its table, at the widths that gather.
template <typename K>
struct Gathers {
    static constexpr bool kAny = false;
};

#if defined(__AVX2__)
template <>
struct Gathers<VecAvx2> {
    static constexpr bool kAny = true;
    static KV_VECTOR_INLINE __m256i yTable(const int32_t* table, const uint8_t* levels) {
        return _mm256_i32gather_epi32(table, VecAvx2::bytesToLanes(levels), sizeof(int32_t));
    }
};
#endif

#if defined(__AVX512BW__)
template <>
struct Gathers<VecAvx512> {
    static constexpr bool kAny = true;
    static KV_VECTOR_INLINE __m512i yTable(const int32_t* table, const uint8_t* levels) {
        return _mm512_i32gather_epi32(VecAvx512::bytesToLanes(levels), table, sizeof(int32_t));
    }
};
#endif

// How the kernel finds Y's contribution.
enum class LumaBy { Step, Line, Table };

// Pixels per pass where Y is looked up first: small enough to stay in L1.
constexpr int32_t kRun = 256;

template <typename K, LumaBy kLuma>
void yuvRowLanes(const YuvTables& t, const YuvRow& row) {
    using V = typename K::V;
    constexpr int32_t kHalf = K::kLanes, kStep = 2 * kHalf;
    constexpr bool kLookUp = kLuma == LumaBy::Table && !Gathers<K>::kAny;
    alignas(64) int32_t ys[kLookUp ? kRun : 1];
    for (int32_t x0 = 0; x0 < row.w; x0 += kRun) {
        const int32_t n = std::min(kRun, row.w - x0);
        const uint8_t* py = row.y + x0;
        const int16_t *cb = row.cb + x0, *cr = row.cr + x0;
        uint32_t* out = row.out + x0;
        if constexpr (kLookUp)
            for (int32_t i = 0; i < n; ++i) ys[i] = t.y[py[i]];
        int32_t i = 0;
        for (; i + kStep <= n; i += kStep) {
            fetchAhead(py + i, row.ahead);
            V y0, y1;
            if constexpr (kLuma == LumaBy::Step) {
                yStepLanes<K>(py + i, t.y[0], y0, y1);
            } else if constexpr (kLuma == LumaBy::Line) {
                y0 = yLineLanes<K>(py + i, t), y1 = yLineLanes<K>(py + i + kHalf, t);
            } else if constexpr (kLookUp) {
                y0 = lanesAt<K>(ys + i), y1 = lanesAt<K>(ys + i + kHalf);
            } else {
                y0 = Gathers<K>::yTable(t.y, py + i), y1 = Gathers<K>::yTable(t.y, py + i + kHalf);
            }
            V r0, g0, b0, r1, g1, b1;
            chromaLanes<K>(t.chroma, cb + i, cr + i, r0, g0, b0);
            chromaLanes<K>(t.chroma, cb + i + kHalf, cr + i + kHalf, r1, g1, b1);
            storeWords<K>(out + i, levels16<K>(K::add(y0, r0), K::add(y1, r1)),
                          levels16<K>(K::add(y0, g0), K::add(y1, g1)),
                          levels16<K>(K::add(y0, b0), K::add(y1, b1)));
        }
        for (; i < n; ++i) {
            int32_t r, g, b;
            yuv_rows::chroma(t.chroma, cb[i], cr[i], r, g, b);
            out[i] = yuv_rows::word(t.y[py[i]], r, g, b);
        }
    }
}

template <typename K>
void yuvRowAt(const YuvTables& t, const YuvRow& row) {
    if (t.yStep) return yuvRowLanes<K, LumaBy::Step>(t, row);
    // The line needs a 32-bit multiply, which the gathering widths have.
    if constexpr (Gathers<K>::kAny)
        if (t.yOnLine) return yuvRowLanes<K, LumaBy::Line>(t, row);
    yuvRowLanes<K, LumaBy::Table>(t, row);
}

}  // namespace
