#include "modes/waveform.h"

#include "params/luma.h"

namespace {

constexpr int32_t kRampBase = 128;  // one pixel shows at 128 + 5

struct WaveformLayout {
    int32_t height;       // output rows
    int32_t panelHeight;  // rows per panel: 256 shows every level, 128 every other
};
constexpr WaveformLayout kLayouts[kChannelCount + 1 /* channels switched on: 0..4 */] = {
    {276, 256}, {276, 256}, {542, 256}, {442, 128}, {562, 128},
};

}  // namespace

void buildWfmRamp(ScopeInstance& inst) {
    inst.wfmRamp[0] = 0;
    for (int32_t k = 1; k < kWfmRampSize; ++k) {
        inst.wfmRamp[k] = kRampBase + k < kLevels ? kRampBase + k : kLevels - 1;
    }
}

void prepareWaveform(ScopeInstance& inst, OutputGeometry& geometry) {
    const ScopeSettings& s = inst.settings;
    const int32_t on = (s.luma != 0) + (s.red != 0) + (s.green != 0) + (s.blue != 0);
    inst.wfmChannelCount = on;
    inst.panelHeight = kLayouts[on].panelHeight;
    geometry.w += kWaveformScaleMargin;
    geometry.h = kLayouts[on].height;
    geometry.pitch = 4 * static_cast<ptrdiff_t>(geometry.w);
}

int renderWaveform(ScopeInstance&, const ConstFrame&, const Frame&) {
    return 0;  // TODO(waveform)
}
