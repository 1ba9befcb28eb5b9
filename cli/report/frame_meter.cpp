#include "report/frame_meter.h"

#include <algorithm>

#include "input/colour_standards.h"
#include "params/param_stage.h"

namespace {

// The tally needs the luma rows the histograms get, nothing of their panels.
void keepGeometry(ScopeInstance&, OutputGeometry&) {}
constexpr DisplayPreparation kLumaTables = {true, keepGeometry};
constexpr DisplayPreparation kHotTables = {false, prepareHotModel};

// An instance as the parameter stage leaves it for `mode`.
std::unique_ptr<ScopeInstance> preparedFor(const ScopeSettings& settings, DisplayMode mode,
                                           const DisplayPreparation& tables, int32_t w, int32_t h) {
    auto inst = std::make_unique<ScopeInstance>();
    inst->settings = settings;
    inst->settings.passthru = 0;
    inst->settings.mode = static_cast<int32_t>(mode);
    OutputGeometry geometry{w, h, 4 * static_cast<ptrdiff_t>(w)};
    runParamStage(*inst, geometry, &tables);
    return inst;
}

}  // namespace

FrameMeter::FrameMeter(const ScopeSettings& settings, int32_t w, int32_t h, SimdLevel level)
    : luma_(preparedFor(settings, DisplayMode::Histograms, kLumaTables, w, h)),
      hot_(preparedFor(settings, DisplayMode::HotPixel, kHotTables, w, h)),
      tallier_(*luma_, level),
      hotCounter_(*hot_, level) {}

void FrameMeter::measure(const ConstFrame& luma, const ConstFrame& hot, FramePart& part) const {
    tallier_.tally(luma, part.levels);
    part.hotPixels += hotCounter_.count(hot);
}

void FrameMeter::numbers(const FramePart& whole, FrameNumbers& out) {
    const LevelTally& t = whole.levels;
    out.pixels = t.pixels;
    out.avd = averageLuma(t.lumaSum, t.pixels);
    for (int c = 0; c < kChannelCount; ++c) {
        out.lowest[c] = t.pixels > 0 ? t.lowest[c] : -1;  // -1 and -1 for a frame without pixels
        out.highest[c] = t.highest[c];
    }
    // The range rule judges the source's code values, not the levels the
    // filter's settings made of them.
    const LumaHistogram& source = whole.sourceLuma;
    out.below16 = 0;
    out.above235 = 0;
    out.sourceLowest = out.sourceHighest = -1;
    for (int v = 0; v < kLevels; ++v) {
        if (source[v] == 0) continue;
        if (out.sourceLowest < 0) out.sourceLowest = v;
        out.sourceHighest = v;
        if (v < kLumaBlackCode) out.below16 += source[v];
        if (v > kLumaWhiteCode) out.above235 += source[v];
    }
    out.hotPixels = whole.hotPixels;
}
