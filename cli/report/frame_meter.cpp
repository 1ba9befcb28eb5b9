#include "report/frame_meter.h"

#include <algorithm>

#include "modes/display_table.h"
#include "modes/histograms.h"
#include "modes/hotpixel.h"
#include "params/luma.h"

namespace {

constexpr int32_t kStudioWhite = 235;  // Rec. 601 nominal white; kStudioBlack is black

std::unique_ptr<ScopeInstance> preparedFor(const ScopeSettings& settings, DisplayMode mode, int32_t w,
                                           int32_t h) {
    auto inst = std::make_unique<ScopeInstance>();
    inst->settings = settings;
    inst->settings.passthru = 0;
    inst->settings.mode = static_cast<int32_t>(mode);
    OutputGeometry geometry{w, h, 4 * static_cast<ptrdiff_t>(w)};
    prepareDisplay(*inst, geometry);
    return inst;
}

}  // namespace

FrameMeter::FrameMeter(const ScopeSettings& settings, int32_t w, int32_t h, SimdLevel level)
    : luma_(preparedFor(settings, DisplayMode::Histograms, w, h)),
      hot_(preparedFor(settings, DisplayMode::HotPixel, w, h)),
      level_(level) {}

void FrameMeter::measure(const ConstFrame& luma, const ConstFrame& hot, FrameNumbers& out) {
    ScopeInstance& inst = *luma_;
    for (HistogramChannel& channel : inst.histogram) std::fill_n(channel.counts, kLevels, 0u);
    out.pixels = countHistogramLevels(inst, luma, level_);
    out.avd = histogramAverageLuma(inst, out.pixels);
    for (int c = 0; c < kChannelCount; ++c) {
        const uint32_t* counts = inst.histogram[c].counts;
        int32_t lo = 0, hi = kLevels - 1;
        while (lo < kLevels && counts[lo] == 0) ++lo;
        while (hi >= 0 && counts[hi] == 0) --hi;
        out.lowest[c] = lo < kLevels ? lo : -1;  // -1 and -1 for a frame without pixels
        out.highest[c] = hi;
    }
    const uint32_t* lumaCounts = inst.histogram[kLuma].counts;
    out.below16 = 0;
    out.above235 = 0;
    for (int v = 0; v < kStudioBlack; ++v) out.below16 += lumaCounts[v];
    for (int v = kStudioWhite + 1; v < kLevels; ++v) out.above235 += lumaCounts[v];
    out.hotPixels = countHotPixels(*hot_, hot, level_);
}
