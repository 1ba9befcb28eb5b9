// The parameter stage: run when the host settles the frame format. All the
// floating-point work of the filter happens here, once, so renderers only
// read integer tables per pixel. The displays add their own tables through
// a DisplayPreparation; the stage never needs to know which display it is.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/frame.h"
#include "core/scope_instance.h"

// What one display adds to the stage.
using PrepareFn = void (*)(ScopeInstance&, OutputGeometry&);
struct DisplayPreparation {
    bool usesChosenLuma;  // the stage builds luma rows from the settings' set
    PrepareFn prepare;    // the display's own tables and output geometry
};

// `geometry` holds the source's size on entry and the output's on return.
// The tables every display may read (luma offset, colour matrix, waveform
// ramp) are built whatever the display; with no `display` (a mode out of
// range) nothing else is, and the geometry stays the source's.
void runParamStage(ScopeInstance& inst, OutputGeometry& geometry, const DisplayPreparation* display);

// 4 * w rounded up to a multiple of 8 bytes.
ptrdiff_t alignedPitch(int32_t w);

inline constexpr double kColourMatrixYuv[3][3] = {
    {0.2989, 0.5866, 0.1144},    // Y
    {-0.1473, -0.2891, 0.4364},  // U
    {0.6149, -0.5145, -0.1004},  // V
};
inline constexpr double kColourMatrixIq[2][3] = {
    {0.5959, -0.2741, -0.3218},  // I
    {0.2113, -0.5227, 0.3113},   // Q
};
