#include "measure/hot_decision.h"

#include <cmath>

namespace {

constexpr double kGammaNtsc = 2.2;  // display gamma of NTSC (System M)
constexpr double kGammaPal = 2.8;   // display gamma of PAL (System B/G)
constexpr double kIreUnit = 0.01;   // 1 IRE as a fraction: the double nearest 0.01

int32_t roundedEntry(double v) { return static_cast<int32_t>(v + kRoundingBias); }

// Signal level L(i), 0..8192: the level itself when the source is already
// gamma corrected, else corrected here with the standard's display gamma.
int32_t signalLevel(int i, bool gammaCorrected, double inverseGamma) {
    const double v = i * kPerLevel;
    const double s = gammaCorrected ? v : std::pow(v, inverseGamma);
    return static_cast<int32_t>(s * kFullScale);
}

}  // namespace

void prepareHotModel(ScopeInstance& inst, OutputGeometry&) {
    const ScopeSettings& s = inst.settings;
    const double inverseGamma = 1.0 / (s.ntsc ? kGammaNtsc : kGammaPal);
    for (int i = 0; i < kLevels; ++i) {
        const int32_t level = signalLevel(i, s.gamma != 0, inverseGamma);
        for (int row = 0; row < kWeightRows; ++row) {
            const double m = inst.colourMatrix[row / kHotChannels][row % kHotChannels];
            inst.weightTable[row][i] = static_cast<uint32_t>(roundedEntry(level * m));
        }
    }
    HotLimits& lim = inst.hotLimits;
    lim.chromaLimit = kChromaLimit;
    // The ceiling is clamped to the range the store accepts, so that no
    // record, however it was filled, can overflow the decision's squares.
    lim.peakLimit = std::clamp(s.maxIRE, kMaxIreLowest, kMaxIreHighest) * kIreUnit;
    lim.chromaLimitSquared = kChromaLimitSquared;
    lim.peakLimitFixed = roundedEntry(lim.peakLimit * kFullScale);
}

const HotPixelKernels* hotPixelKernels(SimdLevel level) {
#if KIVREL_X86_KERNELS
    return kernelsAt(level, &kHotPixelKernelsSse2, &kHotPixelKernelsAvx2);
#else
    return kernelsAt<HotPixelKernels>(level, nullptr, nullptr);
#endif
}

bool packHotRows(const ScopeInstance& inst, const DecisionLimits& lim, HotPackedRows& packed) {
    for (int channel = 0; channel < kHotChannels; ++channel) {
        for (int i = 0; i < kLevels; ++i) {
            uint64_t word = 0;
            for (const HotComponent component : {kHotC1, kHotC2, kHotY}) {
                const int32_t entry =
                    static_cast<int32_t>(inst.weightTable[component * kHotChannels + channel][i]);
                if (entry < -kHotPartBias || entry > kHotPartBias) return false;
                const int shift = component == kHotC1 ? 0 : component == kHotC2 ? 16 : 32;
                word |= static_cast<uint64_t>(entry + kHotPartBias) << shift;
            }
            packed.rows[channel][i] = word;
        }
    }
    packed.peak = static_cast<int32_t>(lim.peak);
    packed.chromaSquared = static_cast<int32_t>(lim.chromaSquared);
    return true;
}

bool isHotPixel(const ScopeInstance& inst, uint32_t px) {
    return !isLegal(decisionLimits(inst.hotLimits), colourModelOf(inst, px));
}

int64_t countHotPixels(const ScopeInstance& inst, const ConstFrame& src, SimdLevel level) {
    return HotPixelCounter(inst, level).count(src);
}

HotPixelCounter::HotPixelCounter(const ScopeInstance& inst, SimdLevel level)
    : inst_(inst), kernels_(hotPixelKernels(level)), packed_{} {
    if (kernels_ != nullptr && !packHotRows(inst, decisionLimits(inst.hotLimits), packed_))
        kernels_ = nullptr;
}

int64_t HotPixelCounter::count(const ConstFrame& src) const {
    if (src.w <= 0 || src.h <= 0) return 0;
    const DecisionLimits lim = decisionLimits(inst_.hotLimits);
    int64_t hot = 0;
    for (int32_t k = 0; k < src.h; ++k) {
        const uint32_t* row = src.storedRow(k);
        if (kernels_ == nullptr) {
            for (int32_t x = 0; x < src.w; ++x) hot += isLegal(lim, colourModelOf(inst_, row[x])) ? 0 : 1;
            continue;
        }
        hot += kernels_->count(packed_, row, src.w);
    }
    return hot;
}
