#include "modes/video.h"

#include <algorithm>

#include "params/luma.h"

namespace {

constexpr uint32_t kRedMask = 0xFF0000;
constexpr uint32_t kGreenMask = 0x00FF00;
constexpr uint32_t kBlueMask = 0x0000FF;
constexpr uint32_t kGreyScale = 0x010101;  // one level into all three bytes

uint32_t channelMask(const ScopeSettings& s) {
    if (s.passthru) return kRedMask | kGreenMask | kBlueMask;
    return (s.red ? kRedMask : 0) | (s.green ? kGreenMask : 0) | (s.blue ? kBlueMask : 0);
}

// Walks both frames in storage order; `op` maps one source word to one output word.
template <typename PixelOp>
void mapPixels(const ConstFrame& src, const Frame& dst, PixelOp op) {
    // The output is meant to have the source's size; never step outside
    // either frame if a host hands over something else.
    const int32_t w = std::min(src.w, dst.w);
    const int32_t h = std::min(src.h, dst.h);
    if (w <= 0 || h <= 0) return;
    const uint32_t* in = src.data;
    uint32_t* out = dst.data;
    const ConstFrame srcRows = src;
    const Frame dstRows = dst;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) out[x] = op(in[x]);
        // Each frame steps by its own modulo from the end of the full row.
        in = srcRows.nextStoredRow(in + src.w);
        out = dstRows.nextStoredRow(out + dst.w);
    }
}

}  // namespace

int renderVideo(ScopeInstance& inst, const ConstFrame& src, const Frame& dst) {
    const ScopeSettings& s = inst.settings;
    if (s.luma && !s.passthru) {
        // Grey leaves out the added 1: the view shows the weights' own sum.
        const ScopeInstance& tables = inst;
        mapPixels(src, dst, [&tables](uint32_t px) {
            const uint32_t y = static_cast<uint32_t>(tables.lumaOffset) +
                               (lumaWeightSum(tables, px) >> kLumaShift);
            return y * kGreyScale;
        });
    } else {
        const uint32_t mask = channelMask(s);
        mapPixels(src, dst, [mask](uint32_t px) { return px & mask; });
    }
    return 0;
}
