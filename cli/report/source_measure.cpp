#include "report/source_measure.h"

#include <cmath>

namespace {

constexpr int kByteBits = 8;

int32_t codeAt(double eightBit, int bits) {
    return static_cast<int32_t>(std::lround(std::ldexp(eightBit, bits - kByteBits)));
}

}  // namespace

SourceBounds boundsFor(const RangeRule& rule, int bits) {
    SourceBounds b;
    if (rule.luma.judged) {
        b.lumaLo = codeAt(rule.luma.lo, bits);
        b.lumaHi = codeAt(rule.luma.hi, bits);
    }
    if (rule.chroma.judged) {
        b.chromaLo = codeAt(rule.chroma.lo, bits);
        b.chromaHi = codeAt(rule.chroma.hi, bits);
    }
    if (rule.rgb.judged) {
        b.rgbLo = codeAt(rule.rgb.lo, bits);
        b.rgbHi = codeAt(rule.rgb.hi, bits);
    }
    return b;
}

void noteLimits(const RangeRule& rule, int bits, bool measured, FileReport& file) {
    const auto note = [&](const CodeLimits& l, int32_t(&to)[2]) {
        to[0] = l.judged ? codeAt(l.lo, bits) : -1;
        to[1] = l.judged ? codeAt(l.hi, bits) : -1;
    };
    note(rule.luma, file.lumaLimits);
    // A source coded as RGB is judged on its luma alone.
    note(measured ? rule.chroma : CodeLimits{}, file.chromaLimits);
    note(measured ? rule.rgb : CodeLimits{}, file.rgbLimits);
    file.sourceMeasured = measured;
}

void sourceNumbers(const SourceGauge* gauge, const SourcePart& planes, const LumaHistogram& luma,
                   const RangeRule& rule, FrameNumbers& out) {
    if (gauge != nullptr) {
        const SourceExtremes e = gauge->extremes(planes);
        for (int m = 0; m < kSourceMeasureCount; ++m) {
            out.srcLowest[m] = e.lowest[m];
            out.srcHighest[m] = e.highest[m];
        }
        out.outside = e.outside;
        return;
    }
    // A source coded as RGB: its own R, G and B, as measured; its luma
    // judged as a converter would code it.
    if (planes.pixels > 0)
        for (int m = SourcePart::kR; m <= SourcePart::kB; ++m) {
            out.srcLowest[m] = static_cast<int32_t>(planes.lowest[m]);
            out.srcHighest[m] = static_cast<int32_t>(planes.highest[m]);
        }
    const SourceBounds b = boundsFor(rule, kByteBits);
    out.outside = 0;
    for (int v = 0; v < static_cast<int>(luma.size()); ++v)
        if (v < b.lumaLo || v > b.lumaHi) out.outside += luma[static_cast<size_t>(v)];
}
