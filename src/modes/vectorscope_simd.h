// The vectorscope's row kernel, written once for every vector level.
#pragma once

#include "measure/luma_simd.h"
#include "modes/vectorscope_kernels.h"

namespace {

template <typename K>
void offsetsRow(const DotPlacement& place, const uint32_t* in, int32_t* offsets, int32_t n) {
    using V = typename K::V;
    const LumaWeights<K> w(place.luma);
    const V lumaOffset = K::set1(static_cast<uint32_t>(place.lumaOffset));
    const V one = K::set1(1);
    const V level = K::set1(0xFF);
    // Per lane, B - Y in the low word and R - Y in the high one.
    const V whole = K::setWords(place.u.whole, place.v.whole);
    const V fraction =
        K::setWords(static_cast<int16_t>(place.u.fraction), static_cast<int16_t>(place.v.fraction));
    const V steps = K::setWords(static_cast<int16_t>(sizeof(uint32_t)), place.rowStep);
    const V origin = K::set1(static_cast<uint32_t>(place.origin));
    forEachVector<K>(in, reinterpret_cast<uint32_t*>(offsets), n, [&](V px) {
        const V sum = K::add(lumaWeightSum<K>(w, px), one);
        const V luma = K::clampLevel(K::add(K::template srl<24>(sum), lumaOffset));
        const V blue = K::sub(K::andv(px, level), luma);
        const V red = K::sub(K::andv(K::template srl<16>(px), level), luma);
        const V difference = K::orv(K::andv(blue, K::set1(0xFFFF)), K::template sll<16>(red));
        const V sign = K::template sra16<15>(difference);
        const V size = K::sub16(K::xorv(difference, sign), sign);
        const V scaled = K::add16(K::mulLow16(size, whole), K::mulHighUnsigned16(size, fraction));
        const V placed = K::sub16(K::xorv(scaled, sign), sign);
        return K::add(K::madd(placed, steps), origin);
    });
}

}  // namespace
