// A vector of pixels' luma weight sums from the affine form of the rows
// (measure/luma_form.h): the same unsigned 32-bit sum the table reads give.
// Included by the kernel files after core/vector_ops.h; internal linkage
// for the same reason.
#pragma once

#include "core/vector_ops.h"
#include "measure/luma_form.h"

namespace {

template <typename K>
struct LumaWeights {
    using V = typename K::V;
    // Pixel words: blue and red in one lane's halves, green and 0 in another's.
    V wholeLowBR, wholeLowG;    // low 16 bits of the whole parts (signed)
    V wholeHighBR, wholeHighG;  // the rest, to be shifted up by 16
    V fractionBR, fractionG;
    V ones;

    explicit LumaWeights(const AffineLuma& form) {
        int16_t low[3], high[3];
        for (int c = 0; c < 3; ++c) {
            // a == high * 2^16 + low modulo 2^32, with low taken as signed.
            low[c] = static_cast<int16_t>(form.a[c] & 0xFFFF);
            high[c] = static_cast<int16_t>((form.a[c] - static_cast<uint32_t>(int32_t{low[c]})) >> 16);
        }
        constexpr int kR = 0, kG = 1, kB = 2;
        wholeLowBR = K::setWords(low[kB], low[kR]);
        wholeLowG = K::setWords(low[kG], 0);
        wholeHighBR = K::setWords(high[kB], high[kR]);
        wholeHighG = K::setWords(high[kG], 0);
        fractionBR = K::setWords(static_cast<int16_t>(form.f[kB]), static_cast<int16_t>(form.f[kR]));
        fractionG = K::setWords(static_cast<int16_t>(form.f[kG]), 0);
        ones = K::setWords(1, 1);
    }
};

template <typename K>
KV_VECTOR_INLINE typename K::V lumaWeightSum(const LumaWeights<K>& w, typename K::V px) {
    using V = typename K::V;
    const V br = K::andv(px, K::set1(0x00FF00FF));
    const V g = K::andv(K::template srl<8>(px), K::set1(0xFF));
    const V low = K::add(K::madd(br, w.wholeLowBR), K::madd(g, w.wholeLowG));
    const V high = K::add(K::madd(br, w.wholeHighBR), K::madd(g, w.wholeHighG));
    const V fraction =
        K::add(K::madd(K::mulRound15(br, w.fractionBR), w.ones), K::mulRound15(g, w.fractionG));
    return K::add(K::add(low, K::template sll<16>(high)), fraction);
}

// out[x] = body(in[x]) over n pixels, a vector at a time; the last partial
// vector goes through a zero-padded copy.
template <typename K, typename Body>
KV_VECTOR_INLINE void forEachVector(const uint32_t* in, uint32_t* out, int32_t n, Body body) {
    int32_t x = 0;
    for (; x + K::kLanes <= n; x += K::kLanes) {
        K::store(out + x, body(K::load(in + x)));
    }
    if (x == n) return;
    alignas(32) uint32_t tail[K::kLanes] = {};
    for (int32_t i = 0; i < n - x; ++i) tail[i] = in[x + i];
    K::store(tail, body(K::load(tail)));
    for (int32_t i = 0; i < n - x; ++i) out[x + i] = tail[i];
}

}  // namespace
