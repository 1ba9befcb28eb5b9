// Kernels of the waveform monitor, one set per level, the scalar set first. Columns are counted
// a block at a time in one pass down the rows, so each row gives a run of
// adjacent pixels; a block's counts stay on the stack.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/scope_instance.h"
#include "core/simd_level.h"
#include "measure/luma_form.h"

inline constexpr int32_t kWaveformBlock = 8;  // columns per pass
// Per level, the four channels' counts of the block's columns side by side:
// one pixel's four increments land close together, never 4 KiB apart.
using WaveformCounts = uint32_t[kLevels][kChannelCount /* luma, R, G, B */][kWaveformBlock];  // 32 KiB

struct WaveformKernels {
    // Adds `rows` stored rows, `pitch` bytes apart, of the block starting at
    // `first` to `counts`: luma (weight sum plus 1, shifted by 24, without
    // the offset), red, green and blue.
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
