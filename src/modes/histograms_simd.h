// The histograms' row kernel, written once for every vector level.
#pragma once

#include "modes/histograms_kernels.h"
#include "modes/luma_simd.h"

namespace {

// Luma = clamp(lumaOffset + ((sum + 1) >> 24), 0, 255), the offset added
// modulo 2^32 as the scalar code's signed sum would be for any offset it
// can hold.
template <typename K>
void levelsRow(const AffineLuma& form, int32_t lumaOffset, const uint32_t* in, uint32_t* levels, int32_t n) {
    using V = typename K::V;
    const LumaWeights<K> w(form);
    const V offset = K::set1(static_cast<uint32_t>(lumaOffset));
    const V one = K::set1(1);
    const V rgb = K::set1(0x00FFFFFF);
    forEachVector<K>(in, levels, n, [&](V px) {
        const V sum = K::add(lumaWeightSum<K>(w, px), one);
        const V luma = K::clampLevel(K::add(K::template srl<24>(sum), offset));
        return K::orv(K::andv(px, rgb), K::template sll<24>(luma));
    });
}

}  // namespace
