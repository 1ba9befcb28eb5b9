// Kernels of the waveform monitor, one set per level, the scalar set first. Columns are counted
// a block at a time in one pass down the rows, so each row gives a run of
// adjacent pixels; a block's counts stay on the stack.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/scope_instance.h"
#include "core/simd_level.h"
#include "measure/luma_form.h"

// A dot's brightness tells apart up to this many pixels of one level in a
// column (the ramp is indexed by 5 per pixel); a larger count shows alike.
inline constexpr uint32_t kRampPixelLimit = (kWfmRampSize - 1) / kWfmRampStep;

inline constexpr int32_t kWaveformBlock = 16;  // columns per pass: a 64-byte line of each row
// Per level, the four channels' counts of the block's columns side by side:
// one pixel's four increments land close together, never 4 KiB apart.
// 16-bit counts keep a whole line of columns in the same 32 KiB.
using WaveformCount = uint16_t;
using WaveformCounts = WaveformCount[kLevels][kChannelCount /* luma, R, G, B */][kWaveformBlock];  // 32 KiB
inline constexpr int32_t kWaveformCells = kLevels * kChannelCount * kWaveformBlock;

// Rows one count call may add: with every count held to kRampPixelLimit
// before it (waveformHoldCounts), none passes 65,535.
inline constexpr int32_t kWaveformPassRows = 0xFFFF - static_cast<int32_t>(kRampPixelLimit);

struct WaveformKernels {
    // Adds `rows` (at most kWaveformPassRows) stored rows, `pitch` bytes
    // apart, of the block starting at `first` to `counts`: luma (weight sum
    // plus 1, shifted by 24, without the offset), red, green and blue.
    void (*count)(const AffineLuma& form, const uint32_t* first, ptrdiff_t pitch, int32_t rows,
                  WaveformCounts& counts);
    // ORs `dots` rows of one channel's dots into the frame: dot i reads the
    // counts of level `level` + i * `levelStep` (and empties them) and goes to
    // `out` + i * `outStep` bytes; its brightness (wfmRamp as the parameter
    // stage builds it) lands in the bytes of `byteMask`.
    void (*draw)(WaveformCounts& counts, int channel, int32_t level, int32_t levelStep, int32_t dots,
                 uint32_t* out, ptrdiff_t outStep, uint32_t byteMask);
};

extern const WaveformKernels kWaveformKernelsSse2;
extern const WaveformKernels kWaveformKernelsAvx2;

// The set of `level`, for the display and for the kernel runner.
const WaveformKernels& waveformKernels(SimdLevel level);

// Holds every count to kRampPixelLimit, which changes no dot: between the
// count calls of a source taller than kWaveformPassRows.
void waveformHoldCounts(WaveformCounts& counts);
