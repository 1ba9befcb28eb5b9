#include "params/param_stage.h"

#include "params/luma.h"

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
            for (int col = 0; col < 3; ++col) inst.colourMatrix[row + 1][col] = kColourMatrixIq[row][col];
    }
}

void buildWfmRamp(ScopeInstance& inst) {
    inst.wfmRamp[0] = 0;
    for (int32_t k = 1; k < kWfmRampSize; ++k)
        inst.wfmRamp[k] = kWfmRampBase + k < kLevels ? kWfmRampBase + k : kLevels - 1;
}

}  // namespace

ptrdiff_t alignedPitch(int32_t w) {
    const ptrdiff_t bytes = 4 * static_cast<ptrdiff_t>(w);
    return (bytes + kPitchAlignment - 1) / kPitchAlignment * kPitchAlignment;
}

void runParamStage(ScopeInstance& inst, OutputGeometry& geometry, const DisplayPreparation* display) {
    const ScopeSettings& s = inst.settings;
    inst.lumaOffset = s.rng255 ? kStudioBlack : 0;
    buildWfmRamp(inst);
    writeColourMatrix(inst);
    if (display == nullptr) return;
    if (display->usesChosenLuma) buildLumaRows(inst, chosenLumaSet(s));
    display->prepare(inst, geometry);
}
