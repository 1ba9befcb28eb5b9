#include "modes/waveform.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "draw/raster.h"
#include "draw/text.h"
#include "measure/luma_form.h"
#include "modes/waveform_kernels.h"
#include "params/luma.h"

namespace {

struct WaveformLayout {
    int32_t height;       // output rows
    int32_t panelHeight;  // rows per panel: 256 shows every level, 128 every other
};
constexpr WaveformLayout kLayouts[kChannelCount + 1 /* channels switched on: 0..4 */] = {
    {276, 256}, {276, 256}, {542, 256}, {442, 128}, {562, 128},
};

// Graticule, in canvas rows and columns.
constexpr int32_t kFullPanel = kLevels;  // a panel that shows every level
constexpr int32_t kPanelGap = 10;        // rows above each panel
constexpr int32_t kScaleLineWidth = 2;   // the scale line left of the labels
constexpr int32_t kBottomLineHeight = 2;
constexpr int32_t kThinLine = 1;    // grid lines and dashes
constexpr int32_t kLabelStep = 32;  // levels between labels (and grid lines)
constexpr int32_t kLabelCount = kLevels / kLabelStep;
constexpr int32_t kLabelChars = 8;  // "- 255" and its terminator
constexpr int32_t kDashPeriod = 10;
constexpr int32_t kDashLength = 5;
constexpr int32_t kStudioBlackLevel = 16;  // Rec. 601 studio range
constexpr int32_t kStudioWhiteLevel = 235;

// Columns are counted a block of kWaveformBlock at a time in one pass over
// the source rows: each row then gives a run of adjacent pixels, and the
// block's counts (WaveformCounts, the one count layout) stay on the stack.
// A source taller than a 16-bit count can hold is counted in passes, each
// count held to the largest the dots tell apart between them.
template <typename CountRows>
void countInPasses(const ConstFrame& src, WaveformCounts& counts, CountRows countRows) {
    for (int32_t y0 = 0; y0 < src.h; y0 += kWaveformPassRows) {
        if (y0 > 0) waveformHoldCounts(counts);
        countRows(src.storedRows(y0, std::min(kWaveformPassRows, src.h - y0)));
    }
}

constexpr unsigned channelBit(int channel) { return 1u << channel; }
constexpr unsigned kChannelSets = 1u << kChannelCount;

// One channel's dots: panel placement and the part of it inside the frame.
// Dot i shows level i * step in canvas row bottomRow - i, read from count
// index i * step - levelOffset.
struct Trace {
    int channel;
    uint32_t colourScale;  // brightness into the channel's byte(s)
    int32_t bottomRow;     // row of level 0
    int32_t step;
    int32_t levelOffset;  // luma counts are kept before the offset is added
    int32_t first, last;  // dots inside the frame and the counts, inclusive
};

constexpr uint32_t kColourScales[kChannelCount] = {
    0x010101,  // luma: grey
    0x010000,  // red byte
    0x000100,  // green byte
    0x000001,  // blue byte
};

int64_t floorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && a < 0); }
int64_t ceilDiv(int64_t a, int64_t b) { return -floorDiv(-a, b); }

// Luma before lumaOffset: a 32-bit sum shifted by 24 is always 0..255, so
// no weight rows can index outside the counts.
uint32_t lumaIndex(const ScopeInstance& inst, uint32_t px) {
    return (lumaWeightSum(inst, px) + 1) >> kLumaShift;
}

template <unsigned Channels>
void countBlock(const ScopeInstance& inst, const ConstFrame& src, int32_t x0, int32_t columns,
                WaveformCounts& counts) {
    for (int32_t k = 0; k < src.h; ++k) {
        // Only how many pixels share a level matters, not the rows' order.
        const uint32_t* row = src.storedRow(k) + x0;
        for (int32_t c = 0; c < columns; ++c) {
            const uint32_t px = row[c];
            if constexpr ((Channels & channelBit(kLuma)) != 0) ++counts[lumaIndex(inst, px)][kLuma][c];
            if constexpr ((Channels & channelBit(kRed)) != 0) ++counts[redOf(px)][kRed][c];
            if constexpr ((Channels & channelBit(kGreen)) != 0) ++counts[greenOf(px)][kGreen][c];
            if constexpr ((Channels & channelBit(kBlue)) != 0) ++counts[blueOf(px)][kBlue][c];
        }
    }
}

using CountFn = void (*)(const ScopeInstance&, const ConstFrame&, int32_t, int32_t, WaveformCounts&);
template <size_t... Sets>
constexpr std::array<CountFn, kChannelSets> makeCounters(std::index_sequence<Sets...>) {
    return {countBlock<static_cast<unsigned>(Sets)>...};
}
constexpr std::array<CountFn, kChannelSets> kCounters =
    makeCounters(std::make_index_sequence<kChannelSets>{});

// ORs one block's dots into the frame and empties the counts it shows. The
// counts it does not show (odd levels in half-height panels, rows outside
// the frame) are never read, so they need no reset.
void drawBlock(const ScopeInstance& inst, const Frame& dst, const Trace* traces, int traceCount, int32_t x0,
               int32_t columns, WaveformCounts& counts) {
    for (int t = 0; t < traceCount; ++t) {
        const Trace& tr = traces[t];
        for (int32_t i = tr.first; i <= tr.last; ++i) {
            uint32_t* out = dst.canvasRow(tr.bottomRow - i) + x0;
            WaveformCount* n = counts[i * tr.step - tr.levelOffset][tr.channel];
            for (int32_t c = 0; c < columns; ++c) {
                const uint32_t pixels = std::min<uint32_t>(n[c], kRampPixelLimit);
                n[c] = 0;
                out[c] |= static_cast<uint32_t>(inst.wfmRamp[kWfmRampStep * pixels]) * tr.colourScale;
            }
        }
    }
}

// The scalar set, the reference of the vector sets: luma from the affine
// form, brightness from the ramp's own rule (see rampIsBuilt).
void countScalar(const AffineLuma& form, const uint32_t* first, ptrdiff_t pitch, int32_t rows,
                 WaveformCounts& counts) {
    const char* row = reinterpret_cast<const char*>(first);
    for (int32_t k = 0; k < rows; ++k, row += pitch) {
        const uint32_t* px = reinterpret_cast<const uint32_t*>(row);
        for (int32_t c = 0; c < kWaveformBlock; ++c) {
            ++counts[(affineWeightSum(form, px[c]) + 1) >> kLumaShift][kLuma][c];
            ++counts[redOf(px[c])][kRed][c];
            ++counts[greenOf(px[c])][kGreen][c];
            ++counts[blueOf(px[c])][kBlue][c];
        }
    }
}

// Brightness of a dot of `pixels` pixels, as the parameter stage's ramp has it.
uint32_t dotBrightness(uint32_t pixels) {
    if (pixels == 0) return 0;
    return std::min<uint32_t>(kWfmRampBase + kWfmRampStep * std::min(pixels, kRampPixelLimit), kLevels - 1);
}

void drawScalar(WaveformCounts& counts, int channel, int32_t level, int32_t levelStep, int32_t dots,
                uint32_t* out, ptrdiff_t outStep, uint32_t byteMask) {
    char* row = reinterpret_cast<char*>(out);
    for (int32_t i = 0; i < dots; ++i, row += outStep) {
        WaveformCount* n = counts[level + i * levelStep][channel];
        uint32_t* o = reinterpret_cast<uint32_t*>(row);
        for (int32_t c = 0; c < kWaveformBlock; ++c) {
            o[c] |= dotBrightness(n[c]) * kColourScales[kLuma] & byteMask;
            n[c] = 0;
        }
    }
}

const WaveformKernels kWaveformKernelsScalar = {countScalar, drawScalar};
// AVX-512 runs the AVX2 set: the time goes to the counting increments, and
// a block of 16 columns is one 512-bit vector, with no second to pack with.
KernelTable<WaveformKernels> kWaveformTable = {
    &kWaveformKernelsScalar,
    KIVREL_X86_SETS(kWaveformKernelsSse2, kWaveformKernelsAvx2, kWaveformKernelsAvx2)};

// The vector kernels compute the brightness instead of reading it: they
// run only when every entry the dots can read is the parameter stage's.
bool rampIsBuilt(const ScopeInstance& inst) {
    for (uint32_t p = 0; p <= kRampPixelLimit; ++p) {
        const int32_t want = p == 0 ? 0 : std::min<int32_t>(kWfmRampBase + kWfmRampStep * p, kLevels - 1);
        if (inst.wfmRamp[kWfmRampStep * p] != want) return false;
    }
    return true;
}

constexpr uint32_t kByteMasks[kChannelCount] = {0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF};

// The blocks of whole kWaveformBlock columns through the vector kernels;
// returns the first column left for the scalar code.
int32_t countAndDrawBlocks(const WaveformKernels& kernels, const AffineLuma& form, const ConstFrame& src,
                           const Frame& dst, const Trace* traces, int traceCount, int32_t columns) {
    WaveformCounts counts = {};
    int32_t x0 = 0;
    for (; x0 + kWaveformBlock <= columns; x0 += kWaveformBlock) {
        countInPasses(src, counts, [&](const ConstFrame& pass) {
            kernels.count(form, pass.data + x0, pass.pitch, pass.h, counts);
        });
        for (int t = 0; t < traceCount; ++t) {
            const Trace& tr = traces[t];
            kernels.draw(counts, tr.channel, tr.first * tr.step - tr.levelOffset, tr.step,
                         tr.last - tr.first + 1, dst.canvasRow(tr.bottomRow - tr.first) + x0, dst.pitch,
                         kByteMasks[tr.channel]);
        }
    }
    return x0;
}

void drawGraticule(const Frame& dst, int32_t panelHeight, int32_t step, int32_t panels, bool grid) {
    const int32_t scaleX = dst.w - kWaveformScaleMargin;
    char labels[kLabelCount][kLabelChars];
    for (int32_t k = 0; k < kLabelCount; ++k)
        std::snprintf(labels[k], sizeof labels[k], "- %d", kLevels - 1 - k * kLabelStep);

    for (int32_t m = 0; m < panels; ++m) {
        const int32_t top = m * (panelHeight + kPanelGap) + kPanelGap;
        fillRect(dst, scaleX, top, kScaleLineWidth, panelHeight, kGraticuleColour);
        if (grid) {
            for (int32_t k = kLabelStep; k < kLevels; k += kLabelStep)
                fillRect(dst, 0, top + 1 + k / step, scaleX, kThinLine, kGraticuleColour);
        }
        // Studio black and white; for steps 1 and 2 these are the rows of
        // the dots of levels 16 and 235 (234).
        const int32_t blackRow = top + (kFullPanel - kStudioBlackLevel) / step - 1;
        const int32_t whiteRow = top + (kFullPanel - 1 - kStudioWhiteLevel) / step;
        for (int32_t x = 0; x < scaleX; x += kDashPeriod) {
            fillRect(dst, x, blackRow, kDashLength, kThinLine, kGraticuleColour);
            fillRect(dst, x, whiteRow, kDashLength, kThinLine, kGraticuleColour);
        }
        // Text lands one row above its y, which puts each dash on its grid line.
        for (int32_t k = 0; k < kLabelCount; ++k)
            drawText(dst, scaleX + 1, top + k * kLabelStep / step - 1, labels[k], kGraticuleColour);
        fillRect(dst, 0, top + panelHeight, scaleX + kScaleLineWidth, kBottomLineHeight, kGraticuleColour);
    }
}

}  // namespace

const WaveformKernels& waveformKernels(SimdLevel level) { return kernelsFor(level, kWaveformTable); }

void waveformHoldCounts(WaveformCounts& counts) {
    WaveformCount* const count = &counts[0][0][0];
    for (int32_t i = 0; i < kWaveformCells; ++i)
        count[i] = static_cast<WaveformCount>(std::min<uint32_t>(count[i], kRampPixelLimit));
}

void prepareWaveform(ScopeInstance& inst, OutputGeometry& geometry) {
    const ScopeSettings& s = inst.settings;
    const int32_t on = switchedOnChannels(s);
    inst.wfmChannelCount = on;
    inst.panelHeight = kLayouts[on].panelHeight;
    geometry.w += kWaveformScaleMargin;
    geometry.h = kLayouts[on].height;
    geometry.pitch = 4 * static_cast<ptrdiff_t>(geometry.w);
}

int renderWaveform(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level) {
    if (dst.w <= 0 || dst.h <= 0) return 0;
    const ScopeSettings& s = inst.settings;
    // Both may be stale (display_table.h): the histograms leave 504 rows.
    const int32_t panelHeight = std::clamp(inst.panelHeight, 1, kFullPanel);
    const int32_t step = kFullPanel / panelHeight;
    const int32_t panels = std::clamp(inst.wfmChannelCount, 0, kChannelCount);

    fillRect(dst, 0, 0, dst.w, dst.h, kClearColour);
    drawGraticule(dst, panelHeight, step, panels, s.wfmGrid != 0);

    // The traces follow the switches as they are now; the panels they fall
    // in may lie partly or wholly below the frame if the switches changed
    // since the parameter stage.
    Trace traces[kChannelCount];
    int traceCount = 0;
    unsigned counted = 0;
    int32_t panel = 0;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (!channelOn(s, ch)) continue;
        const int32_t bottomRow = panel * (panelHeight + kPanelGap) + kPanelGap + panelHeight - 1;
        ++panel;
        const int32_t offset = ch == kLuma ? inst.lumaOffset : 0;
        const int64_t first = std::max({int64_t{0}, int64_t{bottomRow} - (dst.h - 1), ceilDiv(offset, step)});
        const int64_t last = std::min({int64_t{(kLevels - 1) / step}, int64_t{bottomRow},
                                       floorDiv(int64_t{kLevels - 1} + offset, step)});
        if (first > last) continue;
        traces[traceCount++] = {ch,
                                kColourScales[ch],
                                bottomRow,
                                step,
                                offset,
                                static_cast<int32_t>(first),
                                static_cast<int32_t>(last)};
        counted |= channelBit(ch);
    }

    // Output column x shows source column x; the scale margin has none.
    const int32_t columns = std::min(src.w, dst.w);
    if (traceCount == 0 || columns <= 0 || src.h <= 0) return 0;
    int32_t scalarFrom = 0;
    AffineLuma form;
    if (findAffineLuma(inst, form) && rampIsBuilt(inst))
        scalarFrom = countAndDrawBlocks(waveformKernels(level), form, src, dst, traces, traceCount, columns);
    if (scalarFrom == columns) return 0;

    const CountFn count = kCounters[counted];
    WaveformCounts counts = {};
    for (int32_t x0 = scalarFrom, width = 0; x0 < columns; x0 += width) {
        width = std::min(kWaveformBlock, columns - x0);
        countInPasses(src, counts, [&](const ConstFrame& pass) { count(inst, pass, x0, width, counts); });
        drawBlock(inst, dst, traces, traceCount, x0, width, counts);
    }
    return 0;
}
