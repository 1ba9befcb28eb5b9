// The luma tally: every pixel's clamped measuring luma counted, with the
// lowest and highest level of every channel. The histograms' "AVD" and the
// command-line host's report both come from it.
#pragma once

#include <cstdint>

#include "core/frame.h"
#include "core/scope_instance.h"
#include "core/simd_level.h"
#include "measure/level_words.h"

// The title's "AVD": the average of a count's clamped luma, 0 for no pixels.
inline int32_t averageLuma(int64_t lumaSum, int64_t pixels) {
    // The clamped luma keeps the quotient within 0..255.
    return pixels > 0 ? static_cast<int32_t>(lumaSum / pixels) : 0;
}

// Luma alone, with the lowest and highest level of every channel: all a
// caller that wants those numbers needs, for a quarter of the histograms'
// increments. Tallies of parts of a frame add up.
struct LevelTally {
    uint32_t luma[kLevels] = {};  // pixels per clamped luma level, as the histograms count them
    int64_t lumaSum = 0;
    int64_t pixels = 0;
    // In channel order; kLevels and -1 while no pixel was tallied.
    int32_t lowest[kChannelCount] = {kLevels, kLevels, kLevels, kLevels};
    int32_t highest[kChannelCount] = {-1, -1, -1, -1};

    void add(const LevelTally& other);
};
void tallyLevels(const ScopeInstance& inst, const ConstFrame& src, SimdLevel level, LevelTally& tally);

// The same tally, set up once for many frames or parts of them (bands of
// rows, tallied on several threads at once). `inst` must outlive it.
class LevelTallier {
public:
    LevelTallier(const ScopeInstance& inst, SimdLevel level);
    void tally(const ConstFrame& src, LevelTally& tally) const;

private:
    LevelWordSource source_;
    const LevelWordKernels& kernels_;  // on source_
};
