#include "params/param_stage.h"

#include "modes/display_unit.h"
#include "modes/waveform.h"
#include "params/luma.h"
#include "sdk/filter_sdk.h"

namespace {

constexpr ptrdiff_t kPitchAlignment = 8;  // bytes

const LumaCoefficients& chosenLumaSet(const ScopeSettings& s) {
    if (s.rng255) return s.stdDef ? kFullRange601 : kFullRange709;
    return s.stdDef ? kRec601 : kRec709;
}

void writeColourMatrix(ScopeInstance& inst) {
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) inst.colourMatrix[row][col] = kColourMatrixYuv[row][col];
    if (inst.settings.ntsc) {
        for (int row = 0; row < 2; ++row)
            for (int col = 0; col < 3; ++col)
                inst.colourMatrix[row + 1][col] = kColourMatrixIq[row][col];
    }
}

}  // namespace

int32_t effectiveMode(const ScopeSettings& s) {
    return s.passthru ? static_cast<int32_t>(DisplayMode::Video) : s.mode;
}

ptrdiff_t alignedPitch(int32_t w) {
    const ptrdiff_t bytes = 4 * static_cast<ptrdiff_t>(w);
    return (bytes + kPitchAlignment - 1) / kPitchAlignment * kPitchAlignment;
}

long runParamStage(ScopeInstance& inst, OutputGeometry& geometry) {
    const ScopeSettings& s = inst.settings;
    inst.lumaOffset = s.rng255 ? kStudioBlack : 0;
    buildWfmRamp(inst);
    writeColourMatrix(inst);

    // Compared as unsigned, so negative modes are out of range too.
    const uint32_t mode = static_cast<uint32_t>(effectiveMode(s));
    if (mode >= static_cast<uint32_t>(kDisplayModeCount)) return sdk::kFilterParamSwapBuffers;

    const DisplayUnit& unit = kDisplayUnits[mode];
    if (unit.usesChosenLuma) buildLumaRows(inst, chosenLumaSet(s));
    unit.prepare(inst, geometry);
    return sdk::kFilterParamSwapBuffers;
}
