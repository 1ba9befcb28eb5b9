// The per-instance record. The host allocates `inst_data_size` bytes for it
// and owns them; every setting, table and accumulator of an instance lives
// here, so a byte copy is a complete instance and the module never allocates.
#pragma once

#include <cstdint>
#include <type_traits>

enum class DisplayMode : int32_t {
    Histograms = 0,
    HotPixel = 1,
    Video = 2,
    Waveform = 3,
    Vectorscope = 4,
};
inline constexpr int32_t kDisplayModeCount = 5;

// Every writer of a switch stores exactly 0 or 1; readers test for non-zero.
struct ScopeSettings {
    uint8_t accum;     // "Accumulate across frames" (histograms)
    uint8_t passthru;  // overrides mode: every frame goes to the video view
    uint8_t ntsc;      // 1 NTSC (YIQ, gamma 2.2), 0 PAL (YUV, gamma 2.8)
    uint8_t gamma;     // "Gamma Corrected": source levels already corrected
    uint8_t stdDef;    // 1 "Std Def (601)", 0 "High Def (709)"
    uint8_t rng255;    // 1 "0-255" source, 0 "16-235"
    uint8_t luma;
    uint8_t red;
    uint8_t green;
    uint8_t blue;
    uint8_t wfmGrid;   // "Show Grid"
    int32_t mode;      // a DisplayMode; a script may store any value
    int32_t hotFix;    // 0 to black, 1 intensity, 2 saturation
    int32_t maxIRE;    // hot-pixel ceiling in IRE
};

inline constexpr ScopeSettings kDefaultSettings = {
    /*accum*/ 0, /*passthru*/ 0, /*ntsc*/ 1, /*gamma*/ 1, /*stdDef*/ 1, /*rng255*/ 1,
    /*luma*/ 1, /*red*/ 1, /*green*/ 1, /*blue*/ 1, /*wfmGrid*/ 1,
    /*mode*/ static_cast<int32_t>(DisplayMode::Histograms), /*hotFix*/ 0, /*maxIRE*/ 110,
};

inline constexpr int kLevels = 256;        // 8-bit channel levels
inline constexpr int kChannelCount = 4;    // luma, red, green, blue, in that order
enum Channel : int { kLuma = 0, kRed = 1, kGreen = 2, kBlue = 3 };

// The channel switches in channel order (luma, red, green, blue).
inline bool channelOn(const ScopeSettings& s, int channel) {
    const uint8_t switches[kChannelCount] = {s.luma, s.red, s.green, s.blue};
    return switches[channel] != 0;
}

inline int32_t switchedOnChannels(const ScopeSettings& s) {
    int32_t n = 0;
    for (int c = 0; c < kChannelCount; ++c) n += channelOn(s, c) ? 1 : 0;
    return n;
}

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

inline constexpr int kWeightRows = 9;       // Y,C1,C2 x R,G,B (luma modes use rows 0..2)
inline constexpr int kWfmRampSize = 5120;
inline constexpr int kCircleSteps = 360;    // one entry per degree
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
static_assert(sizeof(ScopeSettings) == 11 + 1 /* padding */ + 3 * 4);
