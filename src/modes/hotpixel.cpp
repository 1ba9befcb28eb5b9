#include "modes/hotpixel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

#include "measure/hot_decision.h"
#include "modes/pixel_map.h"
#include "params/luma.h"

namespace {

constexpr double kLevelMax = 255.0;  // largest 8-bit level

// The changes rely on IEEE division: with no chroma at all (possible only
// when a ceiling below 100 puts the luma alone over it) the chroma factor is
// +inf and never chosen, and the saturation factor is -inf and clamped to 0.
static_assert(std::numeric_limits<double>::is_iec559);

enum class FixAction { ToBlack, Intensity, Saturation };

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
    const ColourModel c = colourModelOf(inst, px);
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

}  // namespace

uint32_t hotPixelTest(const ScopeInstance& inst, uint32_t px) {
    const DecisionLimits lim = decisionLimits(inst.hotLimits);
    return withHotFix(inst.settings.hotFix,
                      [&](auto fix) { return testPixel<decltype(fix)::value>(inst, lim, px); });
}

int renderHotPixel(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level) {
    const ScopeInstance& tables = inst;
    const DecisionLimits lim = decisionLimits(inst.hotLimits);
    HotRowSource rows;  // 10 KiB on the stack
    const HotPixelKernels& kernels = hotPixelKernels(inst, level, rows);
    // The kernel decides and writes legal pixels and black; the other
    // actions then change the hot ones here, from the tables.
    withHotFix(inst.settings.hotFix, [&](auto fix) {
        mapRows(src, dst, [&](const uint32_t* in, uint32_t* out, int32_t n) {
            constexpr int32_t kChunk = 256;  // 1 KiB of positions: with the rows, under 12 KiB of stack
            int32_t hot[kChunk];
            for (int32_t x0 = 0; x0 < n; x0 += kChunk) {
                const int32_t m = std::min(kChunk, n - x0);
                constexpr bool kToBlack = decltype(fix)::value == FixAction::ToBlack;
                const int32_t count = kernels.decide(rows, in + x0, out + x0, m, kToBlack ? nullptr : hot);
                if constexpr (!kToBlack) {
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
