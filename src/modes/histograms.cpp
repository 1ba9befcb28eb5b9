#include "modes/histograms.h"

#include "params/luma.h"

namespace {

constexpr uint32_t kBarColours[kChannelCount] = {
    0xFFCCCCCC,  // luma: light grey
    0xFFCC0000,  // red
    0xFF00CC00,  // green
    0xFF0000CC,  // blue
};
constexpr int32_t kPlotRows = 504;  // rows shared by the switched-on panels

}  // namespace

void prepareHistograms(ScopeInstance& inst, OutputGeometry& geometry) {
    const ScopeSettings& s = inst.settings;
    for (int c = 0; c < kChannelCount; ++c) {
        inst.histogram[c].barColour = kBarColours[c];
        inst.histogram[c].minLevel = kLevels - 1;
        inst.histogram[c].maxLevel = -1;
    }
    const int32_t on = (s.luma != 0) + (s.red != 0) + (s.green != 0) + (s.blue != 0);
    inst.panelHeight = on == 0 ? kPlotRows : kPlotRows / on;
    geometry.w = kHistogramWidth;
    geometry.h = kHistogramHeight;
    geometry.pitch = alignedPitch(kHistogramWidth);
}

int renderHistograms(ScopeInstance&, const ConstFrame&, const Frame&) {
    return 0;  // TODO(histograms)
}
