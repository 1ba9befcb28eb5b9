// The per-instance record. The host allocates `inst_data_size` bytes for it
// and owns them; every setting, table and accumulator of an instance lives
// here, so a byte copy is a complete instance and the module never allocates.
#pragma once

#include <cstdint>
#include <type_traits>

#include "core/settings_vocabulary.h"

inline constexpr int kLevels = 256;  // 8-bit channel levels

struct HistogramChannel {
    uint32_t counts[kLevels];
    uint32_t barColour;
    int32_t minLevel;
    int32_t maxLevel;
};

struct HotLimits {
    double chromaLimit;          // 0.5 of full scale
    double peakLimit;            // maxIRE / 100
    int32_t chromaLimitSquared;  // (0.5 * 8192)^2
    int32_t peakLimitFixed;      // peakLimit * 8192, rounded
};

inline constexpr int kWeightRows = 9;  // Y,C1,C2 x R,G,B (luma modes use rows 0..2)
// The waveform's brightness by how many pixels of one level a column holds:
// entry 5 * n for n pixels, 128 + 5 n up to 255 (0 for none).
inline constexpr int kWfmRampSize = 5120;
inline constexpr int32_t kWfmRampBase = 128;
inline constexpr int32_t kWfmRampStep = 5;
inline constexpr int kCircleSteps = 360;      // one entry per degree
inline constexpr int kChromaScaleSize = 511;  // differences -255..255

struct ScopeInstance {
    ScopeSettings settings;
    HistogramChannel histogram[kChannelCount /* luma, R, G, B */];
    // Luma modes: unsigned 8.24 weights of R, G, B in rows 0..2.
    // Hot pixel scan: signed 1/8192 units, read back through int32_t.
    uint32_t weightTable[kWeightRows][kLevels];
    HotLimits hotLimits;
    int32_t panelHeight;
    int32_t lumaOffset;
    int32_t wfmRamp[kWfmRampSize];
    int32_t wfmChannelCount;
    double colourMatrix[3 /* Y, C1, C2 */][3 /* R, G, B */];
    int64_t lumaSum;  // 64 bits: a 32-bit sum overflows on frames above ~8.4 Mpixel
    int32_t circleX[kCircleSteps];
    int32_t circleY[kCircleSteps];
    int32_t uScale[kChromaScaleSize];
    int32_t vScale[kChromaScaleSize];
};

static_assert(std::is_trivially_copyable_v<ScopeInstance>);
static_assert(std::is_standard_layout_v<ScopeInstance>);
