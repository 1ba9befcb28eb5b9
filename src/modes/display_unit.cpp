#include "modes/display_unit.h"

#include "modes/histograms.h"
#include "modes/hotpixel.h"
#include "modes/vectorscope.h"
#include "modes/video.h"
#include "modes/waveform.h"

namespace {
void prepareNothing(ScopeInstance&, OutputGeometry&) {}
}  // namespace

const DisplayUnit kDisplayUnits[kDisplayModeCount] = {
    /* Histograms  */ {true, prepareHistograms, renderHistograms},
    /* HotPixel    */ {false, prepareHotPixel, renderHotPixel},
    /* Video       */ {true, prepareNothing, renderVideo},
    /* Waveform    */ {true, prepareWaveform, renderWaveform},
    /* Vectorscope */ {false, prepareVectorscope, renderVectorscope},
};
