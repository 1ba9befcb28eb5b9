// Level words: each source word becomes its red, green and blue bytes with
// the clamped measuring luma in the top byte, which a counting loop then
// reads with one load. The histograms and the luma tally both count them.
#pragma once

#include <cstdint>

#include "core/scope_instance.h"
#include "core/settings_vocabulary.h"
#include "core/simd_level.h"
#include "measure/luma_form.h"

// The level word's layout: the pixel's own red, green and blue bytes, the
// clamped luma in the byte above them.
inline constexpr int kLevelWordLuma = 24;
inline constexpr uint32_t kLevelWordRgb = 0x00FFFFFF;
inline constexpr int kLevelWordShift[kChannelCount] = {kLevelWordLuma, 16, 8, 0};  // channel order

// What a row kernel reads: the scalar reference the weight rows themselves,
// whatever they hold; the vector kernels their affine form, which they are
// chosen for only where it reproduces every entry.
struct LevelWordSource {
    const ScopeInstance* inst;
    AffineLuma form;
};

struct LevelPairSet;
using LevelCounts = uint32_t[kChannelCount][kLevels];  // a frame's counts per channel and level

struct LevelWordKernels {
    void (*levels)(const LevelWordSource& src, const uint32_t* in, uint32_t* levels, int32_t n);
    // The same words, and per byte the lowest and highest value among them
    // folded into `lowest` and `highest`.
    void (*levelsAndExtremes)(const LevelWordSource& src, const uint32_t* in, uint32_t* levels, int32_t n,
                              uint32_t& lowest, uint32_t& highest);
    // The same words counted into a set of pair tables (measure/level_pairs.h)
    // a short run at a time, as they are made.
    void (*countPairs)(const LevelWordSource& src, const uint32_t* in, int32_t n, LevelPairSet& set,
                       LevelCounts& counts);
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
extern const LevelWordKernels kLevelWordsAvx512;

// The kernels of `level` for `inst`'s rows, with `src` filled in for them:
// the scalar reference where the rows have no affine form (stale tables).
const LevelWordKernels& levelWordKernels(const ScopeInstance& inst, SimdLevel level, LevelWordSource& src);

// Counts level words into `counts`: four increments a word, for frames too
// small to repay the pair tables (measure/level_pairs.h) or when every set
// of those is in use.
inline void countLevelWords(const uint32_t* words, int32_t n, LevelCounts& counts) {
    for (int32_t x = 0; x < n; ++x) {
        const uint32_t w = words[x];
        for (int c = 0; c < kChannelCount; ++c) ++counts[c][w >> kLevelWordShift[c] & 0xFF];
    }
}
