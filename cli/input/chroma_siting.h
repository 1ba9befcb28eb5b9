// Where each pixel of a subsampled picture takes its chroma from: along each
// axis, the two samples that lie on either side of it and the second's
// share, by where the samples sit. The samples are interpolated bilinearly
// between their sites and the edge samples repeated: centred samples (JPEG,
// MPEG-1) give the 3/4, 1/4 filter; co-sited ones (MPEG-2 and H.264's left
// siting, the default when a stream says nothing) are kept on their own
// pixels and averaged between them. An interlaced 4:2:0 frame's fields each
// take their chroma from their own lines, sited as MPEG-2 sites them: a
// field's chroma line lies a quarter of a field line below the first of the
// two lines it serves in the top field, three quarters in the bottom.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

// Shares in eighths of a sample step: every siting above, and a field's,
// falls on one.
constexpr int32_t kTapShift = 3;
constexpr int32_t kTapOne = 1 << kTapShift;

struct ChromaTap {
    int32_t first, second;  // samples, within the plane (edges repeated)
    int32_t weight;         // the second's share, 0 .. kTapOne - 1
};

// One tap a pixel column: `width` pixels over samples 2^log2Step pixels apart.
std::vector<ChromaTap> columnTaps(int32_t width, int log2Step, AVChromaLocation site);

// One tap a pixel row; `fields`: the picture is two interlaced fields.
std::vector<ChromaTap> rowTaps(int32_t height, int log2Step, AVChromaLocation site, bool fields);

// The taps' repeating form away from the edges: pixel 2^log2Step * i + p
// (p < 2^log2Step) reads samples i + shift[p] and the next, the second at
// weight[p], for every pixel from `from` (a multiple of the step) to `to`.
struct TapPattern {
    static constexpr int kMostPhases = 4;  // 4:1:1, 4:1:0
    int log2Step = 0;
    int32_t shift[kMostPhases] = {}, weight[kMostPhases] = {};
    int32_t from = 0, to = 0;  // empty where no pixel keeps the form
};

TapPattern tapPattern(const std::vector<ChromaTap>& taps, int log2Step);
