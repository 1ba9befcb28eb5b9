#include "modes/histograms.h"

#include <algorithm>
#include <cstdio>

#include "draw/raster.h"
#include "draw/text.h"
#include "measure/level_pairs.h"
#include "measure/level_tally.h"
#include "measure/level_words.h"
#include "params/luma.h"
#include "params/param_stage.h"

namespace {

constexpr uint32_t kBarColours[kChannelCount] = {
    0xFFCCCCCC,  // luma: light grey
    0xFFCC0000,  // red
    0xFF00CC00,  // green
    0xFF0000CC,  // blue
};
constexpr int32_t kPlotRows = 504;  // rows shared by the switched-on panels

// Title: a band across the top, cleared every frame so the text never overprints.
constexpr int32_t kTitleBandHeight = 20;
constexpr int32_t kTitleX = 50;
constexpr int32_t kTitleY = 10;
constexpr const char* kTitleFormat = "AVD: %d   Scale: %.1f ";

// Panels stack below the title band: a luma panel right under it, any other
// panel kPanelGap rows below whatever ends above it (the band included).
constexpr int32_t kPanelGap = 7;
constexpr int32_t kBorderRows = 2;  // top and bottom border of a panel

// Graticule columns: level v stands in column kLevelZeroX + v, between the
// two side borders.
constexpr int32_t kGraticuleX = 50;
constexpr int32_t kGraticuleWidth = 260;
constexpr int32_t kSideBorderWidth = 2;
constexpr int32_t kRightBorderX = kGraticuleX + kGraticuleWidth - kSideBorderWidth;  // 308
constexpr int32_t kLevelZeroX = kGraticuleX + kSideBorderWidth;                      // 52
constexpr int32_t kMarkedLevels[] = {16, 235};                                       // studio black and white
constexpr int kGridLineCount = 3;
constexpr double kGridFractions[kGridLineCount] = {0.25, 0.5, 0.75};  // of the plot height

// "Min" left of the graticule, "Max" right of it, near the panel's bottom:
// rows are counted up from the first row below the panel.
struct LevelLabel {
    int32_t x;
    int32_t boxWidth;
    const char* caption;
};
constexpr LevelLabel kMinLabel = {10, 38, "Min"};
constexpr LevelLabel kMaxLabel = {320, 40, "Max"};
constexpr int32_t kCaptionRise = 60;
constexpr int32_t kValueBoxRise = 52;
constexpr int32_t kValueBoxHeight = 12;
constexpr int32_t kValueRise = 50;

constexpr size_t kTextBufferSize = 64;  // the title at its longest is under 40 characters

// Frames of fewer pixels count with four increments a pixel: folding the
// pair tables (two 64 KiB reads) would cost more than the increments save.
constexpr int64_t kPairTablesLeast = 1 << 16;

// Everything the panels share in one frame.
struct PanelLayout {
    int32_t plotRows;                  // P
    int32_t gridRows[kGridLineCount];  // grid lines, counted from the plot's first row
    float scale;                       // counts per bar row, as the title shows it
    uint32_t divisor;                  // the same, at least 1
};

}  // namespace

// Red, green and blue are counted whatever the switches: only the reset and
// the display depend on them.
int64_t countHistogramLevels(ScopeInstance& inst, const ConstFrame& src, SimdLevel level) {
    inst.lumaSum = 0;
    if (src.w <= 0 || src.h <= 0) return 0;
    const int64_t pixels = static_cast<int64_t>(src.w) * src.h;
    LevelWordSource source;
    const LevelWordKernels& kernels = levelWordKernels(inst, level, source);
    constexpr int32_t kChunk = 1024;  // words per kernel call: 4 KiB on the stack
    uint32_t words[kChunk];
    LevelCounts counts = {};  // 4 KiB more
    LevelPairs pairs(pixels >= kPairTablesLeast);
    for (int32_t k = 0; k < src.h; ++k) {
        const uint32_t* row = src.storedRow(k);
        if (pairs.claimed()) {
            kernels.countPairs(source, row, src.w, pairs.set(), counts);
            continue;
        }
        for (int32_t x0 = 0; x0 < src.w; x0 += kChunk) {
            const int32_t n = std::min(kChunk, src.w - x0);
            kernels.levels(source, row + x0, words, n);
            countLevelWords(words, n, counts);
        }
    }
    pairs.fold(counts);
    // The sum of the levels, from their counts: the same whole number.
    int64_t sum = 0;
    for (int c = 0; c < kChannelCount; ++c) {
        for (int32_t v = 0; v < kLevels; ++v) inst.histogram[c].counts[v] += counts[c][v];
    }
    for (int32_t v = 0; v < kLevels; ++v) sum += static_cast<int64_t>(v) * counts[kLuma][v];
    inst.lumaSum = sum;
    return pixels;
}

namespace {

uint32_t peakCount(const ScopeInstance& inst) {
    uint32_t peak = 0;
    for (int c = 0; c < kChannelCount; ++c) {
        if (!channelOn(inst.settings, c)) continue;
        const uint32_t* counts = inst.histogram[c].counts;
        peak = std::max(peak, *std::max_element(counts, counts + kLevels));
    }
    return peak;
}

PanelLayout layoutPanels(int32_t panelHeight, uint32_t peak) {
    PanelLayout layout{};
    // The preparation leaves 126..504 here (the waveform's 128 or 256 when
    // stale); held to that, the panel arithmetic stays in range.
    layout.plotRows = std::clamp(panelHeight, 1, kPlotRows);
    for (int i = 0; i < kGridLineCount; ++i)
        layout.gridRows[i] = static_cast<int32_t>(layout.plotRows * kGridFractions[i]);
    const uint32_t quotient = peak / static_cast<uint32_t>(layout.plotRows);
    layout.scale = static_cast<float>(quotient);
    // The scale is a whole number, so its integer value is the quotient itself
    // (exact even where a float could not hold it).
    layout.divisor = std::max(quotient, 1u);
    return layout;
}

void drawLevelLabel(const Frame& dst, const LevelLabel& label, int32_t level, int32_t end) {
    char text[kTextBufferSize];
    fillRect(dst, label.x, end - kValueBoxRise, label.boxWidth, kValueBoxHeight, kClearColour);
    drawText(dst, label.x, end - kCaptionRise, label.caption, kGraticuleColour);
    std::snprintf(text, sizeof text, "%d", level);
    drawText(dst, label.x, end - kValueRise, text, kGraticuleColour);
}

// Draws one channel's panel with its top border at `top`; returns the first
// row below it.
int32_t drawPanel(HistogramChannel& channel, bool accumulate, const Frame& dst, int32_t top,
                  const PanelLayout& layout) {
    const int32_t p = layout.plotRows;
    const int32_t plotTop = top + kBorderRows;
    const int32_t base = plotTop + p;  // the bottom border, on which the bars stand

    fillRect(dst, kGraticuleX, top, kGraticuleWidth, kBorderRows, kGraticuleColour);
    for (int32_t row : layout.gridRows)
        fillRect(dst, kGraticuleX, plotTop + row, kGraticuleWidth, 1, kGraticuleColour);
    fillRect(dst, kGraticuleX, base, kGraticuleWidth, kBorderRows, kGraticuleColour);
    fillRect(dst, kGraticuleX, plotTop, kSideBorderWidth, p, kGraticuleColour);
    fillRect(dst, kRightBorderX, plotTop, kSideBorderWidth, p, kGraticuleColour);
    for (int32_t level : kMarkedLevels) fillRect(dst, kLevelZeroX + level, plotTop, 1, p, kGraticuleColour);

    // Only levels that reach a whole bar row count as present.
    int32_t lo = -1;
    int32_t hi = -1;
    for (int32_t v = 0; v < kLevels; ++v) {
        const int32_t bar =
            static_cast<int32_t>(std::min(channel.counts[v] / layout.divisor, static_cast<uint32_t>(p)));
        if (bar == 0) continue;
        fillRect(dst, kLevelZeroX + v, base - bar, 1, bar, channel.barColour);
        if (lo < 0) lo = v;
        hi = v;
    }
    if (accumulate) {
        // A frame without any bar pulls Min to -1 until the next preparation.
        channel.minLevel = std::min(channel.minLevel, lo);
        channel.maxLevel = std::max(channel.maxLevel, hi);
    } else {
        channel.minLevel = lo;
        channel.maxLevel = hi;
    }

    const int32_t end = base + kBorderRows;
    drawLevelLabel(dst, kMinLabel, channel.minLevel, end);
    drawLevelLabel(dst, kMaxLabel, channel.maxLevel, end);
    return end;
}

}  // namespace

void prepareHistograms(ScopeInstance& inst, OutputGeometry& geometry) {
    const ScopeSettings& s = inst.settings;
    for (int c = 0; c < kChannelCount; ++c) {
        inst.histogram[c].barColour = kBarColours[c];
        inst.histogram[c].minLevel = kLevels - 1;
        inst.histogram[c].maxLevel = -1;
    }
    const int32_t on = switchedOnChannels(s);
    inst.panelHeight = on == 0 ? kPlotRows : kPlotRows / on;
    geometry.w = kHistogramWidth;
    geometry.h = kHistogramHeight;
    geometry.pitch = alignedPitch(kHistogramWidth);
}

int32_t histogramAverageLuma(const ScopeInstance& inst, int64_t pixels) {
    // A frame without pixels has no average: it shows 0.
    return averageLuma(inst.lumaSum, pixels);
}

int renderHistograms(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level) {
    const ScopeSettings& s = inst.settings;
    for (int c = 0; c < kChannelCount; ++c) {
        if (channelOn(s, c)) std::fill_n(inst.histogram[c].counts, kLevels, 0u);
    }
    const int64_t pixels = countHistogramLevels(inst, src, level);
    const PanelLayout layout = layoutPanels(inst.panelHeight, peakCount(inst));

    if (!s.accum) fillRect(dst, 0, 0, kFullExtent, kFullExtent, kClearColour);
    fillRect(dst, 0, 0, kHistogramWidth, kTitleBandHeight, kClearColour);
    char title[kTextBufferSize];
    std::snprintf(title, sizeof title, kTitleFormat, static_cast<int>(histogramAverageLuma(inst, pixels)),
                  static_cast<double>(layout.scale));
    drawText(dst, kTitleX, kTitleY, title, kGraticuleColour);

    int32_t below = kTitleBandHeight;
    for (int c = 0; c < kChannelCount; ++c) {
        if (!channelOn(s, c)) continue;
        const int32_t top = c == kLuma ? below : below + kPanelGap;
        below = drawPanel(inst.histogram[c], s.accum != 0, dst, top, layout);
    }
    return 0;
}
