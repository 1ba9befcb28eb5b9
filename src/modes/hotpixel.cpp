#include "modes/hotpixel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

#include "modes/hotpixel_kernels.h"
#include "modes/pixel_map.h"
#include "params/luma.h"

namespace {

constexpr int32_t kFullScaleFixed = 8192;  // colour-model fixed point: 1/8192 of full scale
constexpr double kFullScale = kFullScaleFixed;
constexpr double kGammaNtsc = 2.2;                          // display gamma of NTSC (System M)
constexpr double kGammaPal = 2.8;                           // display gamma of PAL (System B/G)
constexpr double kLevelMax = 255.0;                         // largest 8-bit level
constexpr double kPerLevel = 1.0 / 255;                     // one 8-bit step as a fraction of full scale
constexpr double kRoundingBias = 0.5;                       // rounding: add one half, truncate toward zero
constexpr double kChromaLimit = 0.5;                        // legal chroma amplitude: half of full scale
constexpr int32_t kChromaLimitFixed = kFullScaleFixed / 2;  // kChromaLimit in 1/8192
constexpr int32_t kChromaLimitSquared = kChromaLimitFixed * kChromaLimitFixed;
constexpr int32_t kIrePerFullScale = 100;  // IRE: 100 is full scale
constexpr double kIreUnit = 0.01;          // 1 IRE as a fraction: the double nearest 0.01

// The ceiling is clamped to the range the store accepts, so that no record,
// however it was filled, can overflow the decision's squares.

enum Component : int { kY = 0, kC1 = 1, kC2 = 2, kComponents = 3 };
constexpr int kChannels = 3;  // R, G, B: one weightTable row each per component
static_assert(kComponents * kChannels == kWeightRows);

// The changes rely on IEEE division: with no chroma at all (possible only
// when a ceiling below 100 puts the luma alone over it) the chroma factor is
// +inf and never chosen, and the saturation factor is -inf and clamped to 0.
static_assert(std::numeric_limits<double>::is_iec559);

enum class FixAction { ToBlack, Intensity, Saturation };

// Signed contributions in 1/8192 of full scale.
struct ColourModel {
    int32_t y;
    int32_t c1;
    int32_t c2;
};

// The integer limits of the decision, read once per frame. Clamped, so that
// a record this display never prepared still cannot overflow the squares.
struct DecisionLimits {
    int64_t chromaSquared;
    int64_t peak;
};

int32_t roundedEntry(double v) { return static_cast<int32_t>(v + kRoundingBias); }

// Signal level L(i), 0..8192: the level itself when the source is already
// gamma corrected, else corrected here with the standard's display gamma.
int32_t signalLevel(int i, bool gammaCorrected, double inverseGamma) {
    const double v = i * kPerLevel;
    const double s = gammaCorrected ? v : std::pow(v, inverseGamma);
    return static_cast<int32_t>(s * kFullScale);
}

DecisionLimits decisionLimits(const HotLimits& lim) {
    constexpr int64_t kHighestPeak = int64_t{kMaxIreHighest} * kFullScaleFixed / kIrePerFullScale;
    return {std::clamp<int64_t>(lim.chromaLimitSquared, 0, kChromaLimitSquared),
            std::clamp<int64_t>(lim.peakLimitFixed, 0, kHighestPeak)};
}

// One component's three rows summed. The unsigned sum wraps, so any rows
// give a defined value (C++20 conversion).
int32_t componentOf(const ScopeInstance& inst, Component component, uint32_t px) {
    const uint32_t(*rows)[kLevels] = inst.weightTable + component * kChannels;
    return static_cast<int32_t>(rows[0][redOf(px)] + rows[1][greenOf(px)] + rows[2][blueOf(px)]);
}

[[gnu::always_inline]] inline ColourModel measure(const ScopeInstance& inst, uint32_t px) {
    return {componentOf(inst, kY, px), componentOf(inst, kC1, px), componentOf(inst, kC2, px)};
}

// Legal when the chroma amplitude is at most half of full scale and at most
// the room the luma leaves below the ceiling. The room is squared with its
// sign, so a luma above the ceiling (only below 100 IRE) makes the pixel hot.
// 64 bits, so that no component (even from stale rows) can overflow: each square is at most 2^62 and their unsigned sum at most 2^63;
// with the peak clamped, the room's magnitude stays below 2^63 too.
bool isLegal(const DecisionLimits& lim, const ColourModel& c) {
    const uint64_t m =
        static_cast<uint64_t>(int64_t{c.c1} * c.c1) + static_cast<uint64_t>(int64_t{c.c2} * c.c2);
    const int64_t headroom = lim.peak - c.y;
    const int64_t room = headroom * (headroom < 0 ? -headroom : headroom);
    return m <= static_cast<uint64_t>(lim.chromaSquared) && static_cast<int64_t>(m) <= room;
}

// Keeps a change between none (1) and all (0) of what the action can do:
// intensity never brightens, saturation never moves a level away from the
// pixel's luma nor across it. NaN gives 0.
double unitFactor(double f) { return f > 0.0 ? std::min(f, 1.0) : 0.0; }

// A fraction of full scale as a rounded 8-bit level. The factors keep it in
// range; the clamp guards a record whose matrix this display did not write.
uint32_t toLevel(double unit) {
    const double v = unit * kLevelMax + kRoundingBias;
    if (!(v > 0.0)) return 0;
    return v < kLevelMax ? static_cast<uint32_t>(v) : static_cast<uint32_t>(kLevelMax);
}

// 0x00RRGGBB: a changed pixel's top byte is 0.
uint32_t packLevels(uint32_t r, uint32_t g, uint32_t b) { return (r << 16) | (g << 8) | b; }

// The pixel's own levels and its amplitudes as fractions of full scale.
struct HotMeasure {
    double rn, gn, bn;  // unweighted levels r/255, g/255, b/255
    double luma;        // Y of the decision
    double chroma;      // amplitude A of the decision's C1 and C2
};

HotMeasure hotMeasure(uint32_t px, const ColourModel& c) {
    return {redOf(px) * kPerLevel, greenOf(px) * kPerLevel, blueOf(px) * kPerLevel, c.y / kFullScale,
            std::hypot(c.c1 / kFullScale, c.c2 / kFullScale)};
}

// Scales all three levels by one factor until luma plus chroma reaches the
// ceiling and the chroma its limit.
uint32_t lowerIntensity(const ScopeInstance& inst, uint32_t px, const ColourModel& c) {
    const HotMeasure h = hotMeasure(px, c);
    const double k1 = inst.hotLimits.chromaLimit / h.chroma;
    const double k2 = inst.hotLimits.peakLimit / (h.chroma + h.luma);
    const double k = unitFactor(k2 < k1 ? k2 : k1);
    return packLevels(toLevel(k * h.rn), toLevel(k * h.gn), toLevel(k * h.bn));
}

// Pulls the levels toward the pixel's own luma (from its levels, not the
// decision's Y) until the chroma fits. A luma alone above the ceiling leaves
// a grey of that luma: saturation cannot lower it.
uint32_t lowerSaturation(const ScopeInstance& inst, uint32_t px, const ColourModel& c) {
    const HotMeasure h = hotMeasure(px, c);
    const double s1 = inst.hotLimits.chromaLimit / h.chroma;
    const double s2 = (inst.hotLimits.peakLimit - h.luma) / h.chroma;
    const double s = unitFactor(s2 < s1 ? s2 : s1);
    const double(&yRow)[3] = inst.colourMatrix[0];
    const double yf = yRow[0] * h.rn + (yRow[1] * h.gn + yRow[2] * h.bn);
    return packLevels(toLevel(yf + s * (h.rn - yf)), toLevel(yf + s * (h.gn - yf)),
                      toLevel(yf + s * (h.bn - yf)));
}

// Forced inline (with `measure`) into the pixel loops: the decision is the
// whole cost of a legal pixel, and the compiler would otherwise share one
// out-of-line copy among the loops and the single-pixel entry.
template <FixAction kFix>
[[gnu::always_inline]] inline uint32_t testPixel(const ScopeInstance& inst, const DecisionLimits& lim,
                                                 uint32_t px) {
    const ColourModel c = measure(inst, px);
    if (isLegal(lim, c)) return px;  // top byte included
    if constexpr (kFix == FixAction::ToBlack) {
        return 0;
    } else if constexpr (kFix == FixAction::Intensity) {
        return lowerIntensity(inst, px, c);
    } else {
        return lowerSaturation(inst, px, c);
    }
}

// Calls `body` with the change action as a compile-time constant, so the
// action is chosen once and not inside the pixel loop.
template <typename Body>
auto withHotFix(int32_t hotFix, Body body) {
    switch (hotFix) {
    case kHotFixToBlack: return body(std::integral_constant<FixAction, FixAction::ToBlack>{});
    case kHotFixIntensity: return body(std::integral_constant<FixAction, FixAction::Intensity>{});
    default: return body(std::integral_constant<FixAction, FixAction::Saturation>{});
    }
}

const HotPixelKernels* vectorKernels(SimdLevel level) {
#if KIVREL_X86_KERNELS
    return kernelsAt(level, &kHotPixelKernelsSse2, &kHotPixelKernelsAvx2);
#else
    return kernelsAt<HotPixelKernels>(level, nullptr, nullptr);
#endif
}

// The rows in the vector kernels' packed form, when every entry fits it
// (the parameter stage's entries lie within +-5037; stale luma rows do not).
bool packRows(const ScopeInstance& inst, const DecisionLimits& lim, HotPackedRows& packed) {
    for (int channel = 0; channel < kChannels; ++channel) {
        for (int i = 0; i < kLevels; ++i) {
            uint64_t word = 0;
            for (const Component component : {kC1, kC2, kY}) {
                const int32_t entry =
                    static_cast<int32_t>(inst.weightTable[component * kChannels + channel][i]);
                if (entry < -kHotPartBias || entry > kHotPartBias) return false;
                const int shift = component == kC1 ? 0 : component == kC2 ? 16 : 32;
                word |= static_cast<uint64_t>(entry + kHotPartBias) << shift;
            }
            packed.rows[channel][i] = word;
        }
    }
    packed.peak = static_cast<int32_t>(lim.peak);
    packed.chromaSquared = static_cast<int32_t>(lim.chromaSquared);
    return true;
}

}  // namespace

void prepareHotPixel(ScopeInstance& inst, OutputGeometry&) {
    const ScopeSettings& s = inst.settings;
    const double inverseGamma = 1.0 / (s.ntsc ? kGammaNtsc : kGammaPal);
    for (int i = 0; i < kLevels; ++i) {
        const int32_t level = signalLevel(i, s.gamma != 0, inverseGamma);
        for (int row = 0; row < kWeightRows; ++row) {
            const double m = inst.colourMatrix[row / kChannels][row % kChannels];
            inst.weightTable[row][i] = static_cast<uint32_t>(roundedEntry(level * m));
        }
    }
    HotLimits& lim = inst.hotLimits;
    lim.chromaLimit = kChromaLimit;
    lim.peakLimit = std::clamp(s.maxIRE, kMaxIreLowest, kMaxIreHighest) * kIreUnit;
    lim.chromaLimitSquared = kChromaLimitSquared;
    lim.peakLimitFixed = roundedEntry(lim.peakLimit * kFullScale);
}

uint32_t hotPixelTest(const ScopeInstance& inst, uint32_t px) {
    const DecisionLimits lim = decisionLimits(inst.hotLimits);
    return withHotFix(inst.settings.hotFix,
                      [&](auto fix) { return testPixel<decltype(fix)::value>(inst, lim, px); });
}

int renderHotPixel(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level) {
    const ScopeInstance& tables = inst;
    const DecisionLimits lim = decisionLimits(inst.hotLimits);
    const HotPixelKernels* kernels = vectorKernels(level);
    HotPackedRows packed;
    if (kernels != nullptr && packRows(inst, lim, packed)) {
        // The kernel decides and writes legal pixels and black; the other
        // actions then change the hot ones here, from the tables.
        withHotFix(inst.settings.hotFix, [&](auto fix) {
            mapRows(src, dst, [&](const uint32_t* in, uint32_t* out, int32_t n) {
                constexpr int32_t kChunk = 1024;
                int32_t hot[kChunk];
                for (int32_t x0 = 0; x0 < n; x0 += kChunk) {
                    const int32_t m = std::min(kChunk, n - x0);
                    constexpr bool kToBlack = decltype(fix)::value == FixAction::ToBlack;
                    const int32_t count =
                        kernels->decide(packed, in + x0, out + x0, m, kToBlack ? nullptr : hot);
                    if constexpr (decltype(fix)::value != FixAction::ToBlack) {
                        for (int32_t i = 0; i < count; ++i) {
                            const int32_t x = x0 + hot[i];
                            out[x] = testPixel<decltype(fix)::value>(tables, lim, in[x]);
                        }
                    }
                }
            });
        });
        return 0;
    }
    withHotFix(inst.settings.hotFix, [&](auto fix) {
        mapPixels(src, dst,
                  [&tables, &lim](uint32_t px) { return testPixel<decltype(fix)::value>(tables, lim, px); });
    });
    return 0;
}

bool isHotPixel(const ScopeInstance& inst, uint32_t px) {
    return !isLegal(decisionLimits(inst.hotLimits), measure(inst, px));
}

int64_t countHotPixels(const ScopeInstance& inst, const ConstFrame& src, SimdLevel level) {
    return HotPixelCounter(inst, level).count(src);
}

HotPixelCounter::HotPixelCounter(const ScopeInstance& inst, SimdLevel level)
    : inst_(inst), kernels_(vectorKernels(level)), packed_{} {
    if (kernels_ != nullptr && !packRows(inst, decisionLimits(inst.hotLimits), packed_)) kernels_ = nullptr;
}

int64_t HotPixelCounter::count(const ConstFrame& src) const {
    if (src.w <= 0 || src.h <= 0) return 0;
    const DecisionLimits lim = decisionLimits(inst_.hotLimits);
    int64_t hot = 0;
    for (int32_t k = 0; k < src.h; ++k) {
        const uint32_t* row = src.storedRow(k);
        if (kernels_ == nullptr) {
            for (int32_t x = 0; x < src.w; ++x) hot += isLegal(lim, measure(inst_, row[x])) ? 0 : 1;
            continue;
        }
        hot += kernels_->count(packed_, row, src.w);
    }
    return hot;
}
