// One entry per DisplayMode: how the parameter stage prepares the display
// and which renderer draws its frames. The display is chosen once per frame
// by indexing this table, never inside a pixel loop.
//
// Stale tables. A script may change the settings, the display included,
// after the parameter stage and before the next frame, and a host is free
// not to run the stage again. Every renderer therefore reads whatever
// tables and output frame another display (or no display) left, and stays
// inside its frames and free of undefined behaviour with them. A wrong
// picture is acceptable then; a stray write or an overflow is not. Each
// renderer bounds what it reads from the record:
// - video view: walks min(source, output) rows and columns; its grey luma
//   sums the weight rows as unsigned 32-bit, so any rows give a defined word.
// - hot pixel scan: the same walk; the component sums wrap as unsigned, the
//   squares are 64-bit, and the limits are clamped (chroma to its legal
//   square, the peak to the highest ceiling the store accepts).
// - histograms: luma is clamped to 0..255 before it indexes the counts, and
//   the plot height to the panel's rows.
// - waveform: the count index is the weight sum shifted by 24 (always
//   0..255); the panel height is clamped to 1..256 and the panel count to
//   0..4, and every draw is clipped to the frame.
// - vectorscope: plain 2x2 stores only when the reach of the current luma
//   rows keeps every dot inside the output; otherwise each dot is clipped.
#pragma once

#include "core/frame.h"
#include "core/scope_instance.h"
#include "core/simd_level.h"
#include "params/param_stage.h"

// `level` picks the row kernels; the scalar level is the reference.
using RenderFn = int (*)(ScopeInstance&, const ConstFrame& src, const Frame& dst, SimdLevel level);

struct DisplayUnit {
    DisplayPreparation preparation;
    RenderFn render;
};

extern const DisplayUnit kDisplayUnits[kDisplayModeCount];

// The unit of the settings' effective display, or null for a mode out of range.
const DisplayUnit* displayUnitFor(const ScopeSettings& s);

// The parameter stage for the effective display.
void prepareDisplay(ScopeInstance& inst, OutputGeometry& geometry);
// One frame of the effective display with the host's best kernels; a mode
// out of range draws nothing.
int renderDisplay(ScopeInstance& inst, const ConstFrame& src, const Frame& dst);
// The same with the kernels of `level`, held to what the host runs: the
// tests and benchmarks compare the levels with it.
int renderDisplayAt(ScopeInstance& inst, const ConstFrame& src, const Frame& dst, SimdLevel level);
