#include "measure/hot_decision.h"

#include <cmath>
#include <limits>

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

KernelTable<HotPixelKernels> kHotPixelTable = {
    &kHotPixelKernelsScalar,
    KIVREL_X86_SETS(kHotPixelKernelsSse2, kHotPixelKernelsAvx2, kHotPixelKernelsAvx512)};

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

namespace {

// The smallest and largest value of one component over a run of levels.
struct Span {
    int32_t lo, hi;
};

Span operator+(Span a, Span b) { return {a.lo + b.lo, a.hi + b.hi}; }

int64_t squared(int64_t v) { return v * v; }

// The largest and smallest square a component takes within its span.
int64_t largestSquare(Span s) { return std::max(squared(s.lo), squared(s.hi)); }
int64_t smallestSquare(Span s) { return s.lo <= 0 && s.hi >= 0 ? 0 : std::min(squared(s.lo), squared(s.hi)); }

// The components' spans over each channel's cell sides, from the packed
// parts (which already passed their bound, so no sum below can overflow).
struct CellSpans {
    Span part[kHotChannels][kHotCellsPerSide][kHotComponents];
};

void findCellSpans(const HotPackedRows& packed, CellSpans& spans) {
    constexpr int kShift[kHotComponents] = {32, 0, 16};  // Y, C1, C2 in a packed word
    for (int channel = 0; channel < kHotChannels; ++channel) {
        for (int side = 0; side < kHotCellsPerSide; ++side) {
            for (int c = 0; c < kHotComponents; ++c) {
                Span s{std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()};
                for (int i = side << kHotCellShift; i < (side + 1) << kHotCellShift; ++i) {
                    const int32_t v =
                        static_cast<int32_t>(packed.rows[channel][i] >> kShift[c] & 0xFFFF) - kHotPartBias;
                    s = {std::min(s.lo, v), std::max(s.hi, v)};
                }
                spans.part[channel][side][c] = s;
            }
        }
    }
}

// Every colour of a cell is legal when even its largest chroma fits under
// the limit and under the room its highest luma leaves; every one is hot
// when even its smallest chroma exceeds the limit or the room its lowest
// luma leaves (or that luma is over the ceiling). Otherwise the cell is
// mixed, and its pixels are decided one by one.
HotCellMark markOf(const Span (&sum)[kHotComponents], int64_t peak, int64_t chromaSquared) {
    const int64_t most = largestSquare(sum[kHotC1]) + largestSquare(sum[kHotC2]);
    const int64_t least = smallestSquare(sum[kHotC1]) + smallestSquare(sum[kHotC2]);
    const int64_t leastRoom = peak - sum[kHotY].hi;
    const int64_t mostRoom = peak - sum[kHotY].lo;
    if (most <= chromaSquared && leastRoom >= 0 && most <= squared(leastRoom)) return kHotCellLegal;
    if (least > chromaSquared || mostRoom < 0 || least > squared(mostRoom)) return kHotCellHot;
    return kHotCellMixed;
}

void markCells(HotPackedRows& packed) {
    CellSpans spans;
    findCellSpans(packed, spans);
    constexpr int kRed = 0, kGreen = 1, kBlue = 2;
    for (int r = 0; r < kHotCellsPerSide; ++r) {
        for (int g = 0; g < kHotCellsPerSide; ++g) {
            for (int b = 0; b < kHotCellsPerSide; ++b) {
                Span sum[kHotComponents];
                for (int c = 0; c < kHotComponents; ++c)
                    sum[c] = spans.part[kRed][r][c] + spans.part[kGreen][g][c] + spans.part[kBlue][b][c];
                const int cell = (r * kHotCellsPerSide + g) * kHotCellsPerSide + b;
                packed.cellMark[cell] = markOf(sum, packed.peak, packed.chromaSquared);
            }
        }
    }
}

}  // namespace

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
    markCells(packed);
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
