// A run of one row's chroma at every pixel, interpolated between the two
// chroma rows and the two samples of each pixel's taps (chroma_siting.h), as
// its distance from the middle level in eighths of a level. Eighths keep
// every conversion within one level of the exact one (a sixteenth of a level
// of chroma moves blue by at most an eighth, room for a deeper source's
// rounded luma), where whole levels would be two off now and then; the
// rounding goes to the even eighth on a tie, so the mean stays where it is.
#pragma once

#include <cstdint>
#include <type_traits>

#include "input/chroma_siting.h"
#include "input/colour_standards.h"

constexpr int32_t kFineBits = 3;
constexpr int32_t kFineMiddle = kChromaZeroCode << kFineBits;
// The chroma of deeper sources comes in quarters of a level: as fine as the
// 16-bit sums here hold (four times 255.75 * 64).
constexpr int32_t kDeepChromaBits = 2;

// The most pixels one call takes.
constexpr int32_t kFineRun = 1024;

// Pixels x0 .. x0 + n - 1 (n <= kFineRun) of a row whose pixels have the
// taps `columns` (their form away from the edges: `pattern`); `upper`,
// `lower`: the two chroma rows, the lower one's share `rowWeight`; samples
// in whole 8-bit levels, or (uint16_t) in kDeepChromaBits fractions of one,
// as deeper sources keep them.
template <typename Sample>
void fineChroma(const Sample* upper, const Sample* lower, int32_t rowWeight, const ChromaTap* columns,
                const TapPattern& pattern, int32_t x0, int32_t n, int16_t* out);

// The same interpolation left unrounded, for a measure in the source's own
// code values: each pixel's chroma as the weighted sum itself, in
// kExactParts parts of a code value, from samples of any depth up to 16
// bits; those of 8-bit samples (at most 255 * 64) in 16 bits.
constexpr int32_t kExactParts = kTapOne * kTapOne;
template <typename Sample>
using ExactChroma = std::conditional_t<sizeof(Sample) == 1, int16_t, int32_t>;
template <typename Sample>
void exactChroma(const Sample* upper, const Sample* lower, int32_t rowWeight, const ChromaTap* columns,
                 const TapPattern& pattern, int32_t x0, int32_t n, ExactChroma<Sample>* out);
