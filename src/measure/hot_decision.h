// The hot pixel decision: a pixel is illegal for broadcast when its chroma
// amplitude exceeds half of full scale or its luma plus chroma the chosen
// ceiling. The scan draws with it, the command-line host's report counts
// with it; both read the colour-model rows prepareHotModel builds.
#pragma once

#include <algorithm>
#include <cstdint>

#include "core/frame.h"
#include "core/scope_instance.h"
#include "core/simd_level.h"
#include "measure/hot_kernels.h"
#include "params/luma.h"

inline constexpr int32_t kFullScaleFixed = 8192;  // colour-model fixed point: 1/8192 of full scale
inline constexpr double kFullScale = kFullScaleFixed;
inline constexpr double kPerLevel = 1.0 / 255;  // one 8-bit step as a fraction of full scale
inline constexpr double kRoundingBias = 0.5;    // rounding: add one half, truncate toward zero
inline constexpr double kChromaLimit = 0.5;     // legal chroma amplitude: half of full scale
inline constexpr int32_t kChromaLimitFixed = kFullScaleFixed / 2;  // kChromaLimit in 1/8192
inline constexpr int32_t kChromaLimitSquared = kChromaLimitFixed * kChromaLimitFixed;
inline constexpr int32_t kIrePerFullScale = 100;  // IRE: 100 is full scale

// weightTable rows in the hot pixel display: component * kHotChannels + channel.
enum HotComponent : int { kHotY = 0, kHotC1 = 1, kHotC2 = 2, kHotComponents = 3 };
inline constexpr int kHotChannels = 3;  // R, G, B: one weightTable row each per component
static_assert(kHotComponents * kHotChannels == kWeightRows);

// Signed contributions in 1/8192 of full scale.
struct ColourModel {
    int32_t y;
    int32_t c1;
    int32_t c2;
};

// The integer limits of the decision, read once per frame. Clamped to the
// range the store accepts, so that a record this display never prepared
// still cannot overflow the squares.
struct DecisionLimits {
    int64_t chromaSquared;
    int64_t peak;
};

// The colour-model rows of weightTable and hotLimits (parameter stage).
void prepareHotModel(ScopeInstance& inst, OutputGeometry& geometry);

inline DecisionLimits decisionLimits(const HotLimits& lim) {
    constexpr int64_t kHighestPeak = int64_t{kMaxIreHighest} * kFullScaleFixed / kIrePerFullScale;
    return {std::clamp<int64_t>(lim.chromaLimitSquared, 0, kChromaLimitSquared),
            std::clamp<int64_t>(lim.peakLimitFixed, 0, kHighestPeak)};
}

// One component's three rows summed. The unsigned sum wraps, so any rows
// give a defined value (C++20 conversion).
inline int32_t componentOf(const ScopeInstance& inst, HotComponent component, uint32_t px) {
    const uint32_t(*rows)[kLevels] = inst.weightTable + component * kHotChannels;
    return static_cast<int32_t>(rows[0][redOf(px)] + rows[1][greenOf(px)] + rows[2][blueOf(px)]);
}

// Forced inline into the pixel loops: the decision is the whole cost of a
// legal pixel.
[[gnu::always_inline]] inline ColourModel colourModelOf(const ScopeInstance& inst, uint32_t px) {
    return {componentOf(inst, kHotY, px), componentOf(inst, kHotC1, px), componentOf(inst, kHotC2, px)};
}

// Legal when the chroma amplitude is at most half of full scale and at most
// the room the luma leaves below the ceiling. The room is squared with its
// sign, so a luma above the ceiling (only below 100 IRE) makes the pixel hot.
// 64 bits, so that no component (even from stale rows) can overflow: each
// square is at most 2^62 and their unsigned sum at most 2^63; with the peak
// clamped, the room's magnitude stays below 2^63 too.
inline bool isLegal(const DecisionLimits& lim, const ColourModel& c) {
    const uint64_t m =
        static_cast<uint64_t>(int64_t{c.c1} * c.c1) + static_cast<uint64_t>(int64_t{c.c2} * c.c2);
    const int64_t headroom = lim.peak - c.y;
    const int64_t room = headroom * (headroom < 0 ? -headroom : headroom);
    return m <= static_cast<uint64_t>(lim.chromaSquared) && static_cast<int64_t>(m) <= room;
}

// The rows in the vector kernels' packed form; false when an entry does not
// fit it (the parameter stage's entries lie within +-5037; stale luma rows do not).
bool packHotRows(const ScopeInstance& inst, const DecisionLimits& lim, HotPackedRows& packed);

// Whether the pixel is hot, that is, whether the scan changes it.
bool isHotPixel(const ScopeInstance& inst, uint32_t px);
// How many pixels of `src` are hot, decided with the kernels of `level`.
int64_t countHotPixels(const ScopeInstance& inst, const ConstFrame& src, SimdLevel level);

// The same count, set up once for many frames or parts of them (bands of
// rows, counted on several threads at once). `inst` must outlive it.
class HotPixelCounter {
public:
    HotPixelCounter(const ScopeInstance& inst, SimdLevel level);
    int64_t count(const ConstFrame& src) const;

private:
    HotRowSource source_;
    const HotPixelKernels& kernels_;  // on source_
};
