#include "modes/vectorscope.h"

#include <cmath>

#include "params/luma.h"

namespace {

constexpr double kRadiansPerDegree = 0.017453292519444445;  // 3.1415926535 / 180
constexpr int32_t kCentre = 314;     // canvas centre of the circle, and its radius
constexpr double kUGain = 0.984;     // B - Y to columns
constexpr double kVGain = 1.754;     // R - Y to rows
constexpr int32_t kZeroDifference = 255;  // table index of a difference of 0

}  // namespace

void prepareVectorscope(ScopeInstance& inst, OutputGeometry& geometry) {
    geometry.w = kVectorscopeSize;
    geometry.h = kVectorscopeSize;
    geometry.pitch = alignedPitch(kVectorscopeSize);
    // This display measures chroma against plain Rec. 601 luma, whatever the
    // source range and standard say.
    inst.lumaOffset = 0;
    buildLumaRows(inst, kRec601);
    for (int32_t k = 0; k < kCircleSteps; ++k) {
        const double a = k * kRadiansPerDegree;
        inst.circleX[k] = kCentre - static_cast<int32_t>(-0.5 - kCentre * std::sin(a));
        inst.circleY[k] = kCentre - static_cast<int32_t>(-0.5 - kCentre * std::cos(a));
    }
    for (int32_t j = 0; j < kChromaScaleSize; ++j) {
        inst.uScale[j] = static_cast<int32_t>((j - kZeroDifference) * kUGain);
        inst.vScale[j] = static_cast<int32_t>((j - kZeroDifference) * kVGain);
    }
}

int renderVectorscope(ScopeInstance&, const ConstFrame&, const Frame&) {
    return 0;  // TODO(vectorscope)
}
