// The source's own luma code values, before any conversion to RGB: what a
// delivery check judges, whatever levels the displays are set to.
#pragma once

#include <array>
#include <cstdint>

#include "core/frame.h"

extern "C" {
#include <libavutil/frame.h>
}

// How many pixels have each 8-bit luma code value.
using LumaHistogram = std::array<int64_t, 256 /* code value */>;

// Part of a decoded picture as stored (before any turn): rows first..last - 1,
// columns left..right - 1.
struct PlaneWindow {
    int32_t first = 0, last = 0, left = 0, right = 0;
};

// Adds the decoded Y plane's samples in `window` to `histogram`, deep
// samples brought to 8 bits as round(x / 2^(n-8)). False, adding nothing,
// for a format without a Y plane.
bool tallyYPlane(const AVFrame& f, const PlaneWindow& window, LumaHistogram& histogram);

// Adds the luma of full-range RGB words (0x00RRGGBB) to `histogram` as a
// converter to Y'CbCr would code it: BT.709 weights, black at 16, white at
// 235. Integer arithmetic only.
void tallyRgbLuma(const ConstFrame& rows, LumaHistogram& histogram);
