// The pixel loop of the displays whose output has the source's size: each
// source word becomes one output word, in storage order.
#pragma once

#include <algorithm>
#include <cstdint>

#include "core/frame.h"

// Walks both frames in storage order; `rowOp(in, out, n)` maps one row of n
// source words to n output words.
template <typename RowOp>
void mapRows(const ConstFrame& src, const Frame& dst, RowOp rowOp) {
    // The output is meant to have the source's size; never step outside
    // either frame if a host hands over something else.
    const int32_t w = std::min(src.w, dst.w);
    const int32_t h = std::min(src.h, dst.h);
    if (w <= 0 || h <= 0) return;
    const uint32_t* in = src.data;
    uint32_t* out = dst.data;
    for (int32_t y = 0; y < h; ++y) {
        rowOp(in, out, w);
        // Each frame steps by its own modulo from the end of its full row.
        in = src.nextStoredRow(in + src.w);
        out = dst.nextStoredRow(out + dst.w);
    }
}

// The same walk; `op` maps one source word to one output word.
template <typename PixelOp>
void mapPixels(const ConstFrame& src, const Frame& dst, PixelOp op) {
    mapRows(src, dst, [&op](const uint32_t* in, uint32_t* out, int32_t n) {
        for (int32_t x = 0; x < n; ++x) out[x] = op(in[x]);
    });
}
