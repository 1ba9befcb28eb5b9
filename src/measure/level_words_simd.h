// The histograms' row kernel, written once for every vector level.
#pragma once

#include "measure/level_pairs.h"
#include "measure/level_words.h"
#include "measure/luma_simd.h"
#include "params/luma.h"

namespace {

// Luma = clamp(lumaOffset + ((sum + 1) >> 24), 0, 255), the offset added
// modulo 2^32 as the scalar code's signed sum would be for any offset it
// can hold.
template <typename K>
struct LevelWord {
    using V = typename K::V;
    LumaWeights<K> w;
    V offset, one, rgb;

    LevelWord(const AffineLuma& form, int32_t lumaOffset)
        : w(form),
          offset(K::set1(static_cast<uint32_t>(lumaOffset))),
          one(K::set1(1)),
          rgb(K::set1(kLevelWordRgb)) {}
    KV_VECTOR_INLINE V operator()(V px) const {
        const V sum = K::add(lumaWeightSum<K>(w, px), one);
        const V luma = K::clampLevel(K::add(K::template srl<kLumaShift>(sum), offset));
        return K::orv(K::andv(px, rgb), K::template sll<kLevelWordLuma>(luma));
    }
};

template <typename K>
void levelsRow(const LevelWordSource& src, const uint32_t* in, uint32_t* levels, int32_t n) {
    forEachVector<K>(in, levels, n, LevelWord<K>(src.form, src.inst->lumaOffset));
}

template <typename K>
void levelsAndExtremes(const LevelWordSource& src, const uint32_t* in, uint32_t* levels, int32_t n,
                       uint32_t& lowest, uint32_t& highest) {
    using V = typename K::V;
    const LevelWord<K> word(src.form, src.inst->lumaOffset);
    V lo = K::set1(lowest), hi = K::set1(highest);
    int32_t x = 0;
    for (; x + K::kLanes <= n; x += K::kLanes) {
        const V w = word(K::load(in + x));
        K::store(levels + x, w);
        lo = K::minBytes(lo, w);
        hi = K::maxBytes(hi, w);
    }
    alignas(32) uint32_t lanesLo[K::kLanes], lanesHi[K::kLanes];
    K::store(lanesLo, lo);
    K::store(lanesHi, hi);
    for (int i = 0; i < K::kLanes; ++i) {
        lowest = lowerBytes(lowest, lanesLo[i]);
        highest = higherBytes(highest, lanesHi[i]);
    }
    if (x == n) return;
    forEachVector<K>(in + x, levels + x, n - x, word);
    for (; x < n; ++x) {
        lowest = lowerBytes(lowest, levels[x]);
        highest = higherBytes(highest, levels[x]);
    }
}

template <typename K>
void countPairsRow(const LevelWordSource& src, const uint32_t* in, int32_t n, LevelPairSet& set,
                   LevelCounts& counts) {
    const LevelWord<K> word(src.form, src.inst->lumaOffset);
    const auto makeWords = [&](int32_t x, uint32_t * words, int32_t m) __attribute__((always_inline)) {
        forEachVector<K>(in + x, words, m, word);
    };
    countLevelPairRow(n, makeWords, set, counts);
}

}  // namespace
