// Level histograms per channel, with Min/Max, average luma and scale.
#pragma once

#include <cstdint>

#include "core/frame.h"
#include "core/scope_instance.h"
#include "modes/histograms_kernels.h"
#include "modes/simd_level.h"

inline constexpr int32_t kHistogramWidth = 360;
inline constexpr int32_t kHistogramHeight = 570;

void prepareHistograms(ScopeInstance& inst, OutputGeometry& geometry);
int renderHistograms(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level);

// The display's own count, for callers that want its numbers (the
// command-line host's report): adds every pixel's red, green, blue and
// clamped luma level to the four channels' counts, which the caller resets,
// and sets lumaSum. Returns the number of pixels counted.
int64_t countHistogramLevels(ScopeInstance& inst, const ConstFrame& src, SimdLevel level);
// The title's "AVD": the average luma of that count, 0 for no pixels.
int32_t histogramAverageLuma(const ScopeInstance& inst, int64_t pixels);
inline int32_t averageLuma(int64_t lumaSum, int64_t pixels) {
    // The clamped luma keeps the quotient within 0..255.
    return pixels > 0 ? static_cast<int32_t>(lumaSum / pixels) : 0;
}

// The same count for luma alone, with the lowest and highest level of every
// channel: all a caller that wants those numbers needs (the report), for a
// quarter of the increments. Tallies of parts of a frame add up.
struct LevelTally {
    uint32_t luma[kLevels] = {};  // pixels per clamped luma level, as the count's
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
    const ScopeInstance& inst_;
    const HistogramRowKernels* kernels_;  // null: the scalar code
    AffineLuma form_;
};
