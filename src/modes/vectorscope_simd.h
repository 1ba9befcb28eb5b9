// The vectorscope's row kernel, written once for every vector level.
#pragma once

#include "measure/luma_simd.h"
#include "modes/vectorscope_kernels.h"

namespace {

template <typename K>
void indexesRow(const AffineLuma& form, int32_t lumaOffset, const uint32_t* in, uint32_t* indexes,
                int32_t n) {
    using V = typename K::V;
    const LumaWeights<K> w(form);
    const V offset = K::set1(static_cast<uint32_t>(lumaOffset));
    const V one = K::set1(1);
    const V level = K::set1(0xFF);
    const V zeroDifference = K::set1(255);
    forEachVector<K>(in, indexes, n, [&](V px) {
        const V sum = K::add(lumaWeightSum<K>(w, px), one);
        const V luma = K::clampLevel(K::add(K::template srl<24>(sum), offset));
        const V blue = K::sub(K::add(K::andv(px, level), zeroDifference), luma);
        const V red = K::sub(K::add(K::andv(K::template srl<16>(px), level), zeroDifference), luma);
        return K::orv(blue, K::template sll<16>(red));
    });
}

}  // namespace
