#include "input/fine_chroma.h"

#include <algorithm>

namespace {

// Bits below a level of the samples: none, or the quarters of deeper ones.
template <typename Sample>
constexpr int32_t kSampleBits = sizeof(Sample) == 1 ? 0 : kDeepChromaBits;

// From the weighted sum (an eighth along each axis, of the samples' unit) to
// eighths of a level, a tie to the even one. In 16-bit arithmetic throughout
// (a sum is at most 1023 * 64), which the vectorizer keeps eight to a register.
template <typename Sample>
inline int16_t fromMiddle(uint16_t sum) {
    constexpr int32_t kDrop = 2 * kTapShift + kSampleBits<Sample> - kFineBits;
    constexpr auto kHalfBelow = static_cast<uint16_t>((1 << (kDrop - 1)) - 1);
    const auto odd = static_cast<uint16_t>((sum >> kDrop) & 1);
    const auto rounded = static_cast<uint16_t>(sum + kHalfBelow + odd);  // at most 65504
    return static_cast<int16_t>(static_cast<uint16_t>(rounded >> kDrop) - kFineMiddle);
}

// What a run hands out: the render's eighths of a level, summed in 16 bits;
// or the sums themselves.
template <typename Sample>
struct Rounded {
    using Sum = uint16_t;
    using Out = int16_t;
    static Out finish(Sum sum) { return fromMiddle<Sample>(sum); }
};
template <typename Sample>
struct Unrounded {
    using Out = ExactChroma<Sample>;
    using Sum = std::make_unsigned_t<Out>;
    static Out finish(Sum sum) { return static_cast<Out>(sum); }
};

// Pixels from..to - 1 (whole steps) of the pattern: every phase's shift and
// weights fixed, a step's pixels stored together, which the compiler
// vectorizes.
template <typename Form, int kLog2Step>
void patterned(const typename Form::Sum* blended, int32_t first, const TapPattern& p, int32_t from,
               int32_t to, typename Form::Out* out) {
    using Sum = typename Form::Sum;
    constexpr int32_t kStep = 1 << kLog2Step;
    const int32_t count = (to - from) >> kLog2Step;
    const Sum* base = blended + ((from >> kLog2Step) - first);
    int32_t shift[kStep];
    Sum keep[kStep], second[kStep];
    for (int32_t phase = 0; phase < kStep; ++phase) {
        shift[phase] = p.shift[phase];
        second[phase] = static_cast<Sum>(p.weight[phase]);
        keep[phase] = static_cast<Sum>(kTapOne - p.weight[phase]);
    }
    for (int32_t i = 0; i < count; ++i) {
#pragma GCC unroll 4
        for (int32_t phase = 0; phase < kStep; ++phase) {
            const Sum* a = base + i + shift[phase];
            out[i * kStep + phase] = Form::finish(static_cast<Sum>(static_cast<Sum>(keep[phase] * a[0]) +
                                                                   static_cast<Sum>(second[phase] * a[1])));
        }
    }
}

template <typename Form, typename Sample>
void interpolate(const Sample* upper, const Sample* lower, int32_t rowWeight, const ChromaTap* columns,
                 const TapPattern& pattern, int32_t x0, int32_t n, typename Form::Out* out) {
    using Sum = typename Form::Sum;
    if (n <= 0) return;
    // The rows blended once a sample, over the samples the run reads (and a
    // zero past them, which a share of nothing may read).
    const ChromaTap* taps = columns + x0;
    const int32_t first = taps[0].first, last = taps[n - 1].second;
    Sum blended[kFineRun + 2];
    const Sample* up = upper + first;
    const Sample* down = lower + first;
    const int32_t samples = last - first + 1;
    const auto keep = static_cast<Sum>(kTapOne - rowWeight), second = static_cast<Sum>(rowWeight);
    for (int32_t i = 0; i < samples; ++i)
        blended[i] = static_cast<Sum>(static_cast<Sum>(keep * up[i]) + static_cast<Sum>(second * down[i]));
    blended[samples] = 0;
    const auto byTaps = [&](int32_t from, int32_t to) {
        for (int32_t x = from; x < to; ++x) {
            const ChromaTap& tap = columns[x];
            const Sum a = blended[tap.first - first], b = blended[tap.second - first];
            out[x - x0] = Form::finish(static_cast<Sum>((kTapOne - tap.weight) * a + tap.weight * b));
        }
    };
    const int32_t end = x0 + n, step = 1 << pattern.log2Step;
    // The pattern's part of the run, in whole steps.
    const int32_t from = std::max(pattern.from, (x0 + step - 1) & ~(step - 1));
    const int32_t to = std::min(pattern.to, end & ~(step - 1));
    if (from >= to) return byTaps(x0, end);
    byTaps(x0, from);
    switch (pattern.log2Step) {
    case 0: patterned<Form, 0>(blended, first, pattern, from, to, out + (from - x0)); break;
    case 1: patterned<Form, 1>(blended, first, pattern, from, to, out + (from - x0)); break;
    default: patterned<Form, 2>(blended, first, pattern, from, to, out + (from - x0)); break;
    }
    byTaps(to, end);
}

}  // namespace

template <typename Sample>
void fineChroma(const Sample* upper, const Sample* lower, int32_t rowWeight, const ChromaTap* columns,
                const TapPattern& pattern, int32_t x0, int32_t n, int16_t* out) {
    interpolate<Rounded<Sample>>(upper, lower, rowWeight, columns, pattern, x0, n, out);
}

template <typename Sample>
void exactChroma(const Sample* upper, const Sample* lower, int32_t rowWeight, const ChromaTap* columns,
                 const TapPattern& pattern, int32_t x0, int32_t n, ExactChroma<Sample>* out) {
    interpolate<Unrounded<Sample>>(upper, lower, rowWeight, columns, pattern, x0, n, out);
}

template void fineChroma(const uint8_t*, const uint8_t*, int32_t, const ChromaTap*, const TapPattern&,
                         int32_t, int32_t, int16_t*);
template void fineChroma(const uint16_t*, const uint16_t*, int32_t, const ChromaTap*, const TapPattern&,
                         int32_t, int32_t, int16_t*);
template void exactChroma(const uint8_t*, const uint8_t*, int32_t, const ChromaTap*, const TapPattern&,
                          int32_t, int32_t, int16_t*);
template void exactChroma(const uint16_t*, const uint16_t*, int32_t, const ChromaTap*, const TapPattern&,
                          int32_t, int32_t, int32_t*);
