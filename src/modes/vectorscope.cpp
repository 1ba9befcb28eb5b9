#include "modes/vectorscope.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "draw/raster.h"
#include "draw/text.h"
#include "measure/luma_form.h"
#include "modes/vectorscope_kernels.h"
#include "params/luma.h"
#include "params/param_stage.h"

namespace {

constexpr double kRadiansPerDegree = 0.017453292519444445;  // 3.1415926535 / 180
constexpr int32_t kCentre = 314;                            // canvas centre of the circle, and its radius
constexpr double kUGain = 0.984;                            // B - Y to columns
constexpr double kVGain = 1.754;                            // R - Y to rows
constexpr int32_t kZeroDifference = 255;                    // table index of a difference of 0
constexpr int32_t kMaxLevel = kLevels - 1;
constexpr int kLumaRows = 3;  // weightTable rows 0..2: R, G, B

constexpr int32_t kMarkStepDegrees = 5;         // 72 marks round the circle
constexpr int32_t kBlockSize = 2;               // circle marks and dots are 2x2 blocks
constexpr uint64_t kPairOfWords = 0x100000001;  // a 32-bit word times this: the word twice
constexpr int kFractionWordBits = 16;     // of a scale table's fraction: what a 16-bit high multiply keeps
constexpr int32_t kMaxChromaWhole = 127;  // whole * 255 + 255 fits a signed 16-bit word

// Axes: a fill one column left of the centre and one along the centre row,
// each as long as the circle's diameter.
constexpr int32_t kVerticalAxisColumn = kCentre - 1;
constexpr int32_t kHorizontalAxisRow = kCentre;
constexpr int32_t kAxisLength = 2 * kCentre;
constexpr int32_t kAxisThickness = 1;

// The I axis: from the circle at 123 degrees counter-clockwise from +(B - Y)
// to the centre, 313.7 pixels long.
constexpr int32_t kRadiusLineX = 143;
constexpr int32_t kRadiusLineY = 51;

// Top-left of the dot of a neutral pixel (U = V = 0). It sits three rows
// below the horizontal axis and one column right of the vertical one, not on
// their crossing; every existing picture has it there, so it stays.
constexpr int32_t kDotLeft = kCentre;
constexpr int32_t kDotTop = kCentre + 3;

// A point given from the centre: h to the right, v upward.
struct Offset {
    int32_t h;
    int32_t v;
};

constexpr int kBoxVertices = 4;
constexpr int kTargetBoxCount = 6;

struct TargetBox {
    unsigned char letter;  // the bar's colour, drawn beside the box
    int32_t letterX;       // canvas top-left of the letter's glyph
    int32_t letterY;
    Offset vertex[kBoxVertices];
};

// The 75 % colour bars (components 191 and 0, Rec. 601 luma): the mean of a
// box's vertices lies within a pixel of (0.984 (B - Y), 1.754 (R - Y)) of its bar.
constexpr TargetBox targetBox[kTargetBoxCount /* R, G, B, M, C, Y */] = {
    {'R', 246, 94, {{-47, 243}, {-68, 238}, {-65, 225}, {-45, 230}}},
    {'G', 191, 524, {{-123, -198}, {-105, -208}, {-98, -195}, {-115, -186}}},
    {'B', 487, 364, {{170, -47}, {173, -32}, {163, -30}, {160, -44}}},
    {'M', 437, 129, {{123, 198}, {105, 208}, {98, 195}, {115, 186}}},
    {'C', 382, 559, {{47, -244}, {68, -238}, {64, -225}, {44, -230}}},
    {'Y', 139, 288, {{-170, 47}, {-173, 32}, {-163, 30}, {-160, 44}}},
};

constexpr int32_t canvasX(const Offset& p) { return kCentre + p.h; }
constexpr int32_t canvasY(const Offset& p) { return kCentre - p.v; }

// ---- direct 2x2 stores --------------------------------------------------

// The range of canvas top-left corners a set of 2x2 blocks can take. 64-bit,
// so that stale tables (display_table.h) cannot overflow the sums.
struct BlockReach {
    int64_t left, right;
    int64_t top, bottom;

    bool fitsIn(const Frame& dst) const {
        return left >= 0 && top >= 0 && right + kBlockSize <= dst.w && bottom + kBlockSize <= dst.h;
    }
};

// Used when the block reach lies inside the frame: four plain stores.
struct UnclippedBlock {
    const Frame& dst;
    void operator()(int64_t x, int64_t y, uint32_t word) const {
        uint32_t* top = dst.canvasRow(static_cast<int32_t>(y)) + x;
        uint32_t* bottom = dst.canvasRow(static_cast<int32_t>(y) + 1) + x;
        top[0] = word;
        top[1] = word;
        bottom[0] = word;
        bottom[1] = word;
    }
};

// Used when it does not (stale tables, display_table.h): each pixel is checked.
struct ClippedBlock {
    const Frame& dst;
    void operator()(int64_t x, int64_t y, uint32_t word) const {
        for (int64_t row = std::max<int64_t>(y, 0); row < std::min<int64_t>(y + kBlockSize, dst.h); ++row) {
            uint32_t* line = dst.canvasRow(static_cast<int32_t>(row));
            for (int64_t col = std::max<int64_t>(x, 0); col < std::min<int64_t>(x + kBlockSize, dst.w); ++col)
                line[col] = word;
        }
    }
};

// Hands `draw` the unclipped store when every block fits, else the clipped one.
template <typename Draw>
void withBlockStore(const Frame& dst, const BlockReach& reach, Draw draw) {
    if (reach.fitsIn(dst)) {
        draw(UnclippedBlock{dst});
    } else {
        draw(ClippedBlock{dst});
    }
}

// ---- graticule -----------------------------------------------------------

void drawLetters(const Frame& dst) {
    for (const TargetBox& box : targetBox)
        drawGlyph(dst, box.letterX, box.letterY, box.letter, kGraticuleColour);
}

// A mark's block covers columns cx, cx + 1 and canvas rows cy - 1, cy.
BlockReach markReach(const ScopeInstance& inst) {
    BlockReach r{std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min(),
                 std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min()};
    for (int32_t k = 0; k < kCircleSteps; k += kMarkStepDegrees) {
        r.left = std::min<int64_t>(r.left, inst.circleX[k]);
        r.right = std::max<int64_t>(r.right, inst.circleX[k]);
        r.top = std::min<int64_t>(r.top, int64_t{inst.circleY[k]} - 1);
        r.bottom = std::max<int64_t>(r.bottom, int64_t{inst.circleY[k]} - 1);
    }
    return r;
}

template <typename BlockStore>
void storeCircleMarks(const ScopeInstance& inst, const BlockStore& store) {
    for (int32_t k = 0; k < kCircleSteps; k += kMarkStepDegrees)
        store(inst.circleX[k], int64_t{inst.circleY[k]} - 1, kGraticuleColour);
}

void drawAxes(const Frame& dst) {
    fillRect(dst, kVerticalAxisColumn, 0, kAxisThickness, kAxisLength, kGraticuleColour);
    fillRect(dst, 0, kHorizontalAxisRow, kAxisLength, kAxisThickness, kGraticuleColour);
}

void drawTargetBoxes(const Frame& dst) {
    for (const TargetBox& box : targetBox) {
        for (int i = 0; i < kBoxVertices; ++i) {
            const Offset& from = box.vertex[i];
            const Offset& to = box.vertex[(i + 1) % kBoxVertices];
            drawLine(dst, canvasX(from), canvasY(from), canvasX(to), canvasY(to), kGraticuleColour);
        }
    }
}

// ---- dots ----------------------------------------------------------------

// Every luma row rises with its level and the largest sum stays below 2^32,
// so the luma never falls when a channel grows.
bool lumaRisesWithEveryChannel(const ScopeInstance& inst) {
    uint64_t top = 1;  // the 1 the measuring luma adds
    for (int channel = 0; channel < kLumaRows; ++channel) {
        const uint32_t* row = inst.weightTable[channel];
        if (!std::is_sorted(row, row + kLevels)) return false;
        top += row[kMaxLevel];
    }
    return top <= std::numeric_limits<uint32_t>::max();
}

uint32_t pixelOf(uint32_t r, uint32_t g, uint32_t b) { return r << 16 | g << 8 | b; }

struct OffsetRange {
    int64_t lo, hi;
};

// The offsets a uScale or vScale table gives for the differences minDiff..maxDiff.
OffsetRange offsetRange(const int32_t (&table)[kChromaScaleSize], int32_t minDiff, int32_t maxDiff) {
    // Index first: a pointer may not step outside its table even for a moment.
    const auto [lo, hi] =
        std::minmax_element(table + (minDiff + kZeroDifference), table + (maxDiff + kZeroDifference + 1));
    return {*lo, *hi};
}

BlockReach dotReach(const ScopeInstance& inst) {
    const ChromaReach c = chromaReach(inst);
    const OffsetRange u = offsetRange(inst.uScale, c.minBlue, c.maxBlue);
    const OffsetRange v = offsetRange(inst.vScale, c.minRed, c.maxRed);
    // R - Y grows upward, canvas rows downward.
    return {kDotLeft + u.lo, kDotLeft + u.hi, kDotTop - v.hi, kDotTop - v.lo};
}

// Storage order, so that of several pixels on one dot the later one shows.
template <typename BlockStore>
void storeDots(const ScopeInstance& inst, const ConstFrame& src, const BlockStore& store) {
    const uint32_t* row = src.data;
    for (int32_t y = 0; y < src.h; ++y) {
        for (int32_t x = 0; x < src.w; ++x) {
            const uint32_t px = row[x];
            // Luma and levels both lie in 0..255, so the indexes stay in 0..510
            // whatever the tables hold.
            const int32_t luma = clampedLumaOf(inst, px);
            const int32_t u = inst.uScale[static_cast<int32_t>(blueOf(px)) - luma + kZeroDifference];
            const int32_t v = inst.vScale[static_cast<int32_t>(redOf(px)) - luma + kZeroDifference];
            store(int64_t{kDotLeft} + u, int64_t{kDotTop} - v, px);
        }
        row = src.nextStoredRow(row + src.w);
    }
}

// One table entry from its form, as the vector kernels compute it.
int32_t scaledDifference(const ChromaScaleForm& form, int32_t d) {
    const int32_t size = std::abs(d);
    const int32_t scaled = form.whole * size + ((size * int32_t{form.fraction}) >> kFractionWordBits);
    return d < 0 ? -scaled : scaled;
}

// The scalar set, the reference of the vector sets: the same offsets from
// the same forms.
void offsetsScalar(const DotPlacement& place, const uint32_t* in, int32_t* offsets, int32_t n) {
    for (int32_t x = 0; x < n; ++x) {
        const uint32_t px = in[x];
        const uint32_t sum = affineWeightSum(place.luma, px) + 1;
        const int32_t luma =
            std::clamp(place.lumaOffset + static_cast<int32_t>(sum >> kLumaShift), 0, kMaxLevel);
        const int32_t u = scaledDifference(place.u, static_cast<int32_t>(blueOf(px)) - luma);
        const int32_t v = scaledDifference(place.v, static_cast<int32_t>(redOf(px)) - luma);
        offsets[x] = place.origin + u * static_cast<int32_t>(sizeof(uint32_t)) + v * place.rowStep;
    }
}

const VectorscopeRowKernels kVectorscopeRowsScalar = {offsetsScalar};
KernelTable<VectorscopeRowKernels> kVectorscopeRowTable = {
    &kVectorscopeRowsScalar,
    KIVREL_X86_SETS(kVectorscopeRowsSse2, kVectorscopeRowsAvx2, kVectorscopeRowsAvx512)};

// The kernels' placement of the dots in `dst`, when the tables have their
// forms and a stored row's step fits the kernels' 16-bit multiplier.
bool findDotPlacement(const ScopeInstance& inst, const Frame& dst, DotPlacement& place) {
    if (dst.pitch <= 0 || dst.pitch > std::numeric_limits<int16_t>::max() ||
        int64_t{dst.h} * dst.pitch > std::numeric_limits<int32_t>::max())
        return false;
    if (!findAffineLuma(inst, place.luma) || !findChromaScaleForm(inst.uScale, place.u) ||
        !findChromaScaleForm(inst.vScale, place.v))
        return false;
    place.lumaOffset = inst.lumaOffset;
    place.rowStep = static_cast<int16_t>(dst.pitch);
    // R - Y grows upward, and canvas row kDotTop is stored row h - 1 - kDotTop.
    place.origin =
        static_cast<int32_t>((dst.h - 1 - kDotTop) * dst.pitch + kDotLeft * ptrdiff_t{sizeof(uint32_t)});
    return true;
}

// The dots from the vector kernels' offsets, when every dot fits: a dot
// costs a read and two 8-byte stores.
void storeDotsFromOffsets(const ConstFrame& src, const Frame& dst, const VectorscopeRowKernels& kernels,
                          const DotPlacement& place) {
    char* const upper = reinterpret_cast<char*>(dst.data);
    // Canvas row y + 1 is the stored row below.
    char* const lower = upper - dst.pitch;
    constexpr int32_t kChunk = 1024;  // offsets per kernel call: 4 KiB on the stack
    int32_t offsets[kChunk];
    const uint32_t* row = src.data;
    for (int32_t y = 0; y < src.h; ++y) {
        for (int32_t x0 = 0; x0 < src.w; x0 += kChunk) {
            const int32_t n = std::min(kChunk, src.w - x0);
            const uint32_t* in = row + x0;
            kernels.offsets(place, in, offsets, n);
#pragma GCC unroll 4
            for (int32_t x = 0; x < n; ++x) {
                const uint64_t pair = in[x] * kPairOfWords;
                std::memcpy(upper + offsets[x], &pair, sizeof pair);
                std::memcpy(lower + offsets[x], &pair, sizeof pair);
            }
        }
        row = src.nextStoredRow(row + src.w);
    }
}

}  // namespace

const VectorscopeRowKernels& vectorscopeRowKernels(SimdLevel level) {
    return kernelsFor(level, kVectorscopeRowTable);
}

bool findChromaScaleForm(const int32_t* table, ChromaScaleForm& form) {
    const auto entry = [table](int32_t d) { return table[kZeroDifference + d]; };
    const int32_t whole = entry(kMaxLevel) / kMaxLevel;
    if (entry(0) != 0 || whole < 0 || whole > kMaxChromaWhole) return false;
    // The least fraction that reaches every entry's remainder: if it
    // overshoots one, no fraction fits.
    int64_t fraction = 0;
    for (int32_t d = 1; d <= kMaxLevel; ++d) {
        const int64_t rest = int64_t{entry(d)} - int64_t{whole} * d;
        if (rest < 0 || rest >= d) return false;
        fraction = std::max(fraction, ((rest << kFractionWordBits) + d - 1) / d);
    }
    if (fraction > std::numeric_limits<uint16_t>::max()) return false;
    form = {static_cast<int16_t>(whole), static_cast<uint16_t>(fraction)};
    for (int32_t d = -kMaxLevel; d <= kMaxLevel; ++d)
        if (entry(d) != scaledDifference(form, d)) return false;
    return true;
}

void prepareVectorscope(ScopeInstance& inst, OutputGeometry& geometry) {
    geometry.w = kVectorscopeSize;
    geometry.h = kVectorscopeSize;
    geometry.pitch = alignedPitch(kVectorscopeSize);
    // This display measures chroma against plain Rec. 601 luma, whatever the
    // source range and standard say.
    inst.lumaOffset = 0;
    buildLumaRows(inst, kRec601);
    for (int32_t k = 0; k < kCircleSteps; ++k) {
        const double a = k * kRadiansPerDegree;
        inst.circleX[k] = kCentre - static_cast<int32_t>(-0.5 - kCentre * std::sin(a));
        inst.circleY[k] = kCentre - static_cast<int32_t>(-0.5 - kCentre * std::cos(a));
    }
    for (int32_t j = 0; j < kChromaScaleSize; ++j) {
        inst.uScale[j] = static_cast<int32_t>((j - kZeroDifference) * kUGain);
        inst.vScale[j] = static_cast<int32_t>((j - kZeroDifference) * kVGain);
    }
}

ChromaReach chromaReach(const ScopeInstance& inst) {
    // Stale rows may fall or wrap: then assume anything.
    if (!lumaRisesWithEveryChannel(inst)) return {-kMaxLevel, kMaxLevel, -kMaxLevel, kMaxLevel};
    // With a luma that never falls, a channel's difference from it is largest
    // with the other two channels at 0 and smallest with them at full level.
    ChromaReach c{kMaxLevel, -kMaxLevel, kMaxLevel, -kMaxLevel};
    for (int32_t level = 0; level < kLevels; ++level) {
        const uint32_t l = static_cast<uint32_t>(level);
        const uint32_t m = kMaxLevel;
        c.minBlue = std::min(c.minBlue, level - clampedLumaOf(inst, pixelOf(m, m, l)));
        c.maxBlue = std::max(c.maxBlue, level - clampedLumaOf(inst, pixelOf(0, 0, l)));
        c.minRed = std::min(c.minRed, level - clampedLumaOf(inst, pixelOf(l, m, m)));
        c.maxRed = std::max(c.maxRed, level - clampedLumaOf(inst, pixelOf(l, 0, 0)));
    }
    return c;
}

int renderVectorscope(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level) {
    fillRect(dst, 0, 0, kFullExtent, kFullExtent, kClearColour);
    drawLetters(dst);
    withBlockStore(dst, markReach(inst), [&inst](const auto& store) { storeCircleMarks(inst, store); });
    drawAxes(dst);
    drawTargetBoxes(dst);
    drawLine(dst, kRadiusLineX, kRadiusLineY, kCentre, kCentre, kGraticuleColour);
    if (src.w <= 0 || src.h <= 0) return 0;
    const BlockReach reach = dotReach(inst);
    DotPlacement place;
    if (reach.fitsIn(dst) && findDotPlacement(inst, dst, place)) {
        storeDotsFromOffsets(src, dst, vectorscopeRowKernels(level), place);
    } else {
        withBlockStore(dst, reach, [&inst, &src](const auto& store) { storeDots(inst, src, store); });
    }
    return 0;
}
