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

// The scalar reference: the record's rows and limits read as they are.
int32_t decideScalar(const HotRowSource& src, const uint32_t* in, uint32_t* out, int32_t n, int32_t* hot) {
    const DecisionLimits lim = decisionLimits(src.inst->hotLimits);
    int32_t found = 0;
    for (int32_t x = 0; x < n; ++x) {
        const bool legal = isLegal(lim, colourModelOf(*src.inst, in[x]));
        out[x] = legal ? in[x] : 0;
        if (!legal && hot != nullptr) hot[found] = x;
        found += legal ? 0 : 1;
    }
    return found;
}

int32_t countScalar(const HotRowSource& src, const uint32_t* in, int32_t n) {
    const DecisionLimits lim = decisionLimits(src.inst->hotLimits);
    int32_t found = 0;
    for (int32_t x = 0; x < n; ++x) found += isLegal(lim, colourModelOf(*src.inst, in[x])) ? 0 : 1;
    return found;
}

const HotPixelKernels kHotPixelKernelsScalar = {decideScalar, countScalar};

KernelTable<HotPixelKernels> kHotPixelTable = {&kHotPixelKernelsScalar,
                                               KIVREL_X86_SETS(kHotPixelKernelsSse2, kHotPixelKernelsAvx2)};

}  // namespace

const HotPixelKernels& hotPixelKernels(const ScopeInstance& inst, SimdLevel level, HotRowSource& src) {
    src.inst = &inst;
    return packHotRows(inst, decisionLimits(inst.hotLimits), src.packed) ? kernelsFor(level, kHotPixelTable)
                                                                         : kHotPixelKernelsScalar;
}

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
    : kernels_(hotPixelKernels(inst, level, source_)) {}

int64_t HotPixelCounter::count(const ConstFrame& src) const {
    if (src.w <= 0 || src.h <= 0) return 0;
    int64_t hot = 0;
    for (int32_t k = 0; k < src.h; ++k) hot += kernels_.count(source_, src.storedRow(k), src.w);
    return hot;
}
