// The video view's row kernels, written once for every vector level.
#pragma once

#include "measure/luma_simd.h"
#include "modes/video_kernels.h"

namespace {

template <typename K>
void maskRow(const uint32_t* in, uint32_t* out, int32_t n, uint32_t mask) {
    const typename K::V m = K::set1(mask);
    forEachVector<K>(in, out, n, [m](typename K::V px) { return K::andv(px, m); });
}

// y * 0x010101 == (sum >> 24) * 0x010101 + lumaOffset * 0x010101, modulo 2^32.
template <typename K>
void greyRow(const AffineLuma& form, uint32_t offsetGrey, const uint32_t* in, uint32_t* out, int32_t n) {
    const LumaWeights<K> w(form);
    const typename K::V offset = K::set1(offsetGrey);
    forEachVector<K>(in, out, n, [&w, offset](typename K::V px) {
        return K::add(K::greyOfTopByte(lumaWeightSum<K>(w, px)), offset);
    });
}

}  // namespace
