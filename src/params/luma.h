// Luma from the weight rows the parameter stage builds: three table reads,
// two additions and a shift per pixel.
#pragma once

#include <algorithm>
#include <cstdint>

#include "core/scope_instance.h"

inline constexpr int kLumaShift = 24;             // weights are 8.24 fixed point
inline constexpr double kLumaScale = 16777216.0;  // 2^24

// The luma coefficient sets: weights of the red, green and blue value.
struct LumaCoefficients {
    double r, g, b;
};

// Full-range source brought into studio levels together with an offset of 16.
inline constexpr LumaCoefficients kFullRange601 = {0.2567890625, 0.50412890625, 0.0979625};
inline constexpr LumaCoefficients kFullRange709 = {0.1825, 0.6144, 0.06192};
// Studio-range source: the standards' own weights, which keep grey levels.
inline constexpr LumaCoefficients kRec601 = {0.299, 0.587, 0.114};
inline constexpr LumaCoefficients kRec709 = {0.2126, 0.7152, 0.0722};
inline constexpr int32_t kStudioBlack = 16;  // offset that puts full-range black at 16

// Rows 0..2 of weightTable: round(c * i * 2^24), rounding half up.
void buildLumaRows(ScopeInstance& inst, const LumaCoefficients& c);

inline uint32_t redOf(uint32_t px) { return (px >> 16) & 0xFF; }
inline uint32_t greenOf(uint32_t px) { return (px >> 8) & 0xFF; }
inline uint32_t blueOf(uint32_t px) { return px & 0xFF; }

// Sum of the three weights, unsigned 32-bit (it never exceeds 255 * 2^24 + 1).
inline uint32_t lumaWeightSum(const ScopeInstance& inst, uint32_t px) {
    return inst.weightTable[0][redOf(px)] + inst.weightTable[1][greenOf(px)] +
           inst.weightTable[2][blueOf(px)];
}

// The measuring luma: with the added 1 that makes grey levels come out exact.
inline int32_t lumaOf(const ScopeInstance& inst, uint32_t px) {
    return inst.lumaOffset + static_cast<int32_t>((lumaWeightSum(inst, px) + 1) >> kLumaShift);
}

inline int32_t clampedLumaOf(const ScopeInstance& inst, uint32_t px) {
    return std::clamp(lumaOf(inst, px), 0, kLevels - 1);
}
