#include "modes/display_table.h"

#include <algorithm>

#include "measure/hot_decision.h"
#include "modes/histograms.h"
#include "modes/hotpixel.h"
#include "modes/vectorscope.h"
#include "modes/video.h"
#include "modes/waveform.h"

namespace {
void prepareNothing(ScopeInstance&, OutputGeometry&) {}
}  // namespace

const DisplayUnit kDisplayUnits[kDisplayModeCount] = {
    /* Histograms  */ {{true, prepareHistograms}, renderHistograms},
    /* HotPixel    */ {{false, prepareHotModel}, renderHotPixel},
    /* Video       */ {{true, prepareNothing}, renderVideo},
    /* Waveform    */ {{true, prepareWaveform}, renderWaveform},
    /* Vectorscope */ {{false, prepareVectorscope}, renderVectorscope},
};

const DisplayUnit* displayUnitFor(const ScopeSettings& s) {
    // Compared as unsigned, so negative modes fall out of range too.
    const uint32_t mode = static_cast<uint32_t>(effectiveMode(s));
    return mode < static_cast<uint32_t>(kDisplayModeCount) ? &kDisplayUnits[mode] : nullptr;
}

void prepareDisplay(ScopeInstance& inst, OutputGeometry& geometry) {
    const DisplayUnit* unit = displayUnitFor(inst.settings);
    runParamStage(inst, geometry, unit != nullptr ? &unit->preparation : nullptr);
}

int renderDisplay(ScopeInstance& inst, const ConstFrame& src, const Frame& dst) {
    return renderDisplayAt(inst, src, dst, machineSimdLevel());
}

int renderDisplayAt(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level) {
    const DisplayUnit* unit = displayUnitFor(inst.settings);
    return unit != nullptr ? unit->render(inst, src, dst, std::min(level, machineSimdLevel())) : 0;
}
