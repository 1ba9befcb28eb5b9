#include "measure/level_tally.h"

#include <algorithm>

#include "measure/level_pairs.h"
#include "params/luma.h"

namespace {

// The scalar reference: the weight rows read as they are, whatever they hold.
uint32_t levelWord(const ScopeInstance& inst, uint32_t px) {
    return (px & kLevelWordRgb) | static_cast<uint32_t>(clampedLumaOf(inst, px)) << kLevelWordLuma;
}

void levelsScalar(const LevelWordSource& src, const uint32_t* in, uint32_t* levels, int32_t n) {
    for (int32_t x = 0; x < n; ++x) levels[x] = levelWord(*src.inst, in[x]);
}

void levelsAndExtremesScalar(const LevelWordSource& src, const uint32_t* in, uint32_t* levels, int32_t n,
                             uint32_t& lowest, uint32_t& highest) {
    for (int32_t x = 0; x < n; ++x) {
        levels[x] = levelWord(*src.inst, in[x]);
        lowest = lowerBytes(lowest, levels[x]);
        highest = higherBytes(highest, levels[x]);
    }
}

void countPairsScalar(const LevelWordSource& src, const uint32_t* in, int32_t n, LevelPairSet& set,
                      LevelCounts& counts) {
    const auto makeWords = [&](int32_t x, uint32_t* words, int32_t m) {
        levelsScalar(src, in + x, words, m);
    };
    countLevelPairRow(n, makeWords, set, counts);
}

const LevelWordKernels kLevelWordsScalar = {levelsScalar, levelsAndExtremesScalar, countPairsScalar};

KernelTable<LevelWordKernels> kLevelWordTable = {
    &kLevelWordsScalar, KIVREL_X86_SETS(kLevelWordsSse2, kLevelWordsAvx2, kLevelWordsAvx512)};

constexpr int32_t kChunk = 1024;  // level words per kernel call: 4 KiB on the stack

}  // namespace

const LevelWordKernels& levelWordKernels(const ScopeInstance& inst, SimdLevel level, LevelWordSource& src) {
    src.inst = &inst;
    src.form = {};
    return findAffineLuma(inst, src.form) ? kernelsFor(level, kLevelWordTable) : kLevelWordsScalar;
}

void LevelTally::add(const LevelTally& other) {
    for (int v = 0; v < kLevels; ++v) luma[v] += other.luma[v];
    lumaSum += other.lumaSum;
    pixels += other.pixels;
    for (int c = 0; c < kChannelCount; ++c) {
        lowest[c] = std::min(lowest[c], other.lowest[c]);
        highest[c] = std::max(highest[c], other.highest[c]);
    }
}

void tallyLevels(const ScopeInstance& inst, const ConstFrame& src, SimdLevel level, LevelTally& tally) {
    LevelTallier(inst, level).tally(src, tally);
}

LevelTallier::LevelTallier(const ScopeInstance& inst, SimdLevel level)
    : kernels_(levelWordKernels(inst, level, source_)) {}

void LevelTallier::tally(const ConstFrame& src, LevelTally& tally) const {
    if (src.w <= 0 || src.h <= 0) return;
    // Neighbours go to separate sets: a run of one level then never waits
    // on its own last increment.
    constexpr int kSets = 8;
    uint32_t sets[kSets][kLevels] = {};
    uint32_t words[kChunk];
    uint32_t lowest = ~0u, highest = 0;  // per byte of the level words
    for (int32_t k = 0; k < src.h; ++k) {
        const uint32_t* row = src.storedRow(k);
        for (int32_t x0 = 0; x0 < src.w; x0 += kChunk) {
            const int32_t n = std::min(kChunk, src.w - x0);
            kernels_.levelsAndExtremes(source_, row + x0, words, n, lowest, highest);
            int32_t x = 0;
            // Unrolled (kSets), each set is an address of its own, not a
            // sum worked out per pixel.
            for (; x + kSets <= n; x += kSets)
#pragma GCC unroll 8
                for (int set = 0; set < kSets; ++set) ++sets[set][words[x + set] >> kLevelWordLuma];
            for (; x < n; ++x) ++sets[0][words[x] >> kLevelWordLuma];
        }
    }
    // The sum of the levels, from their counts: the same whole number.
    int64_t sum = 0;
    for (int v = 0; v < kLevels; ++v) {
        uint32_t count = 0;
        for (const uint32_t* set : sets) count += set[v];
        tally.luma[v] += count;
        sum += static_cast<int64_t>(v) * count;
    }
    tally.lumaSum += sum;
    tally.pixels += static_cast<int64_t>(src.w) * src.h;
    for (int c = 0; c < kChannelCount; ++c) {
        const int shift = kLevelWordShift[c];
        tally.lowest[c] = std::min(tally.lowest[c], static_cast<int32_t>(lowest >> shift & 0xFF));
        tally.highest[c] = std::max(tally.highest[c], static_cast<int32_t>(highest >> shift & 0xFF));
    }
}
