// The parameter stage: run when the host settles the frame format. All the
// floating-point work of the filter happens here, once, so renderers only
// read integer tables per pixel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/scope_instance.h"

struct OutputGeometry {
    int32_t w;
    int32_t h;
    ptrdiff_t pitch;
};

// `geometry` holds the source's size on entry and the output's on return.
// Returns the host's FILTERPARAM_SWAP_BUFFERS on every path.
long runParamStage(ScopeInstance& inst, OutputGeometry& geometry);

// The display the settings select: Video under pass-through, else the mode.
int32_t effectiveMode(const ScopeSettings& s);

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
