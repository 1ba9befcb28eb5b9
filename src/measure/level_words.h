// Level words: each source word becomes its red, green and blue bytes with
// the clamped measuring luma in the top byte, which a counting loop then
// reads with one load. The histograms and the luma tally both count them.
#pragma once

#include <cstdint>

#include "core/settings_vocabulary.h"
#include "core/simd_level.h"
#include "measure/luma_form.h"

// The level word's layout: the pixel's own red, green and blue bytes, the
// clamped luma in the byte above them.
inline constexpr int kLevelWordLuma = 24;
inline constexpr uint32_t kLevelWordRgb = 0x00FFFFFF;
inline constexpr int kLevelWordShift[kChannelCount] = {kLevelWordLuma, 16, 8, 0};  // channel order

struct LevelWordKernels {
    void (*levels)(const AffineLuma& form, int32_t lumaOffset, const uint32_t* in, uint32_t* levels,
                   int32_t n);
    // The same words, and per byte the lowest and highest value among them
    // folded into `lowest` and `highest`.
    void (*levelsAndExtremes)(const AffineLuma& form, int32_t lumaOffset, const uint32_t* in,
                              uint32_t* levels, int32_t n, uint32_t& lowest, uint32_t& highest);
};

// The scalar fold the kernels end with: per byte, the lower (higher) of two words'.
inline uint32_t lowerBytes(uint32_t a, uint32_t b) {
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t x = a >> shift & 0xFF, y = b >> shift & 0xFF;
        out |= (x < y ? x : y) << shift;
    }
    return out;
}
inline uint32_t higherBytes(uint32_t a, uint32_t b) { return ~lowerBytes(~a, ~b); }

extern const LevelWordKernels kLevelWordsSse2;
extern const LevelWordKernels kLevelWordsAvx2;

// The kernels of `level`; null for the scalar code.
const LevelWordKernels* levelWordKernels(SimdLevel level);
