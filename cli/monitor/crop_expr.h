// The region of interest in FFmpeg's crop syntax, "w:h:x:y" (or
// "w=..:h=..:x=..:y=.."), each an expression of the input's and the
// region's size: in_w/iw, in_h/ih, out_w/ow, out_h/oh, a (iw/ih), with
// + - * /, unary minus and parentheses. Left out, the region is the whole
// width or height and x and y centre it, as FFmpeg's defaults do.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "pluginhost/status.h"

struct CropRegion {
    int32_t w = 0, h = 0, x = 0, y = 0;
    bool operator==(const CropRegion&) const = default;
};

struct CropRequest {
    std::string text;                  // as given, for messages
    std::array<std::string, 4> exprs;  // w, h, x, y
};

// Splits and checks the expressions' syntax and names (a usage error).
Status parseCropRequest(std::string_view text, CropRequest& request);

// Evaluates as FFmpeg does: the width, then the height, then the width
// again (so each may refer to the other), then x and y; every value
// rounded to the nearest integer, halves to even. A region that is empty
// or not wholly inside the frame is an error; it is never clamped.
Status resolveCrop(const CropRequest& request, int32_t frameW, int32_t frameH, CropRegion& region);

// One expression with the given variables; for the tests.
Status evalCropExpr(std::string_view expr, double inW, double inH, double outW, double outH, double& value);
