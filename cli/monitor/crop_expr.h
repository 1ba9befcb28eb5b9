// The region of interest in FFmpeg's crop syntax, "w:h:x:y" (or
// "w=..:h=..:x=..:y=.."), each an expression for FFmpeg's own evaluator
// (libavutil/eval.h: every function and operator FFmpeg's crop takes, min(),
// if(), trunc(), ...) over the crop filter's names:
//   in_w iw in_h ih   the frame's size
//   out_w ow out_h oh the region's size (NaN until evaluated, as in FFmpeg)
//   a sar dar         iw/ih, the sample aspect (1 when unknown), a*sar
//   hsub vsub         1: kivrel cuts its RGB picture, every pixel its own
//                     chroma, as FFmpeg's exact cropping of a 4:4:4 source
//   x y               the region's corner: x may use y and y may use x
//                     (neither itself); w and h use neither
//   n                 0: one region for the whole run, the first frame's
//   t pos             NaN (unknown), so a region that moves with time or
//                     file position is refused rather than frozen
// Left out, the region is the whole width or height and x and y centre it,
// as FFmpeg's defaults do.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "pluginhost/status.h"
#include "vocabulary.h"

struct CropRegion {
    int32_t w = 0, h = 0, x = 0, y = 0;
    bool operator==(const CropRegion&) const = default;
};

struct CropRequest {
    std::string text;                  // as given, for messages
    std::array<std::string, 4> exprs;  // w, h, x, y
};

// Splits and checks the expressions' syntax and names (a usage error). The
// detail of a bad expression is FFmpeg's, taken from its log: routed by
// routeLibraryLog (os/av_support.h), else a general message.
Status parseCropRequest(std::string_view text, CropRequest& request);

// Evaluates as FFmpeg's crop does: the width, then the height, then the
// width again (so each may refer to the other), then x, y and x again; each
// value rounded to the nearest integer, halves to even (lrint), while the
// next expressions see it unrounded. A region that is empty or not wholly
// inside the frame is an error; it is never clamped.
Status resolveCrop(const CropRequest& request, int32_t frameW, int32_t frameH, CropRegion& region,
                   Rational sampleAspect = {1, 1});

// One expression as the width's sees the names; for the tests.
Status evalCropExpr(std::string_view expr, double inW, double inH, double outW, double outH, double& value);
