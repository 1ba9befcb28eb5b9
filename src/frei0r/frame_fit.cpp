#include "frei0r/frame_fit.h"

#include <algorithm>

#include "core/vector_ops.h"
#include "draw/text.h"

namespace {

constexpr char kTooSmallNote[] = "too small";
constexpr uint32_t kNoteColour = 0xFFFFFFFF;  // opaque white
constexpr int kChannelShifts[] = {0, 8, 16};  // blue, green, red in a 32-bit pixel
constexpr uint32_t kLevelMask = 0xFF;

void fillCanvasRows(const Frame& frame, int32_t first, int32_t count, int32_t x, int32_t w) {
    for (int32_t y = first; y < first + count; ++y) std::fill_n(frame.canvasRow(y) + x, w, kOpaqueBlack);
}

// Black everywhere but the plan's rectangle.
void fillAround(const FitPlan& plan, const Frame& frame) {
    fillCanvasRows(frame, 0, plan.y, 0, frame.w);
    fillCanvasRows(frame, plan.y + plan.h, frame.h - plan.y - plan.h, 0, frame.w);
    fillCanvasRows(frame, plan.y, plan.h, 0, plan.x);
    fillCanvasRows(frame, plan.y, plan.h, plan.x + plan.w, frame.w - plan.x - plan.w);
}

void enlarge(const FitPlan& plan, const ConstFrame& display, const Frame& frame) {
    const int32_t k = plan.scale;
    for (int32_t sy = 0; sy < display.h; ++sy) {
        const uint32_t* from = display.canvasRow(sy);
        for (int32_t copy = 0; copy < k; ++copy) {
            uint32_t* to = frame.canvasRow(plan.y + sy * k + copy) + plan.x;
            for (int32_t sx = 0; sx < display.w; ++sx) to = std::fill_n(to, k, from[sx] | kOpaque);
        }
    }
}

void reduce(const FitPlan& plan, const ConstFrame& display, const AxisTaps& tapsX, const AxisTaps& tapsY,
            const Frame& frame) {
    // Each target's weights add up to the display's width and height.
    const uint64_t total = static_cast<uint64_t>(display.w) * static_cast<uint64_t>(display.h);
    for (int32_t ty = 0; ty < plan.h; ++ty) {
        uint32_t* to = frame.canvasRow(plan.y + ty) + plan.x;
        for (int32_t tx = 0; tx < plan.w; ++tx) {
            uint64_t sums[3] = {};
            for (int32_t j = tapsY.start[ty]; j < tapsY.start[ty + 1]; ++j) {
                const uint32_t* row = display.canvasRow(tapsY.source[j]);
                uint64_t rowSums[3] = {};
                for (int32_t i = tapsX.start[tx]; i < tapsX.start[tx + 1]; ++i) {
                    const uint32_t p = row[tapsX.source[i]];
                    for (int c = 0; c < 3; ++c)
                        rowSums[c] += ((p >> kChannelShifts[c]) & kLevelMask) * tapsX.weight[i];
                }
                for (int c = 0; c < 3; ++c) sums[c] += rowSums[c] * tapsY.weight[j];
            }
            uint32_t pixel = kOpaque;
            for (int c = 0; c < 3; ++c)
                pixel |= static_cast<uint32_t>((sums[c] + total / 2) / total) << kChannelShifts[c];
            to[tx] = pixel;
        }
    }
}

}  // namespace

FitPlan planFit(int32_t frameW, int32_t frameH, int32_t displayW, int32_t displayH) {
    FitPlan plan{FitKind::Nothing, displayW, displayH, 1, 0, 0, frameW, frameH};
    if (displayW <= 0 || displayH <= 0) return plan;
    if (displayW == frameW && displayH == frameH) {
        plan.kind = FitKind::Direct;
        return plan;
    }
    if (displayW <= frameW && displayH <= frameH) {
        plan.kind = FitKind::Enlarge;
        plan.scale = std::min(frameW / displayW, frameH / displayH);
        plan.w = displayW * plan.scale;
        plan.h = displayH * plan.scale;
    } else {
        // The side that limits the reduction keeps the frame's length; the
        // other follows the display's aspect, rounded down, at least 1.
        const int64_t fw = frameW, fh = frameH, dw = displayW, dh = displayH;
        if (fw * dh <= fh * dw) {
            plan.w = frameW;
            plan.h = static_cast<int32_t>(std::max<int64_t>(1, std::min(fh, dh * fw / dw)));
        } else {
            plan.h = frameH;
            plan.w = static_cast<int32_t>(std::max<int64_t>(1, std::min(fw, dw * fh / dh)));
        }
        const bool readable =
            plan.w * kLeastReadableShare >= displayW && plan.h * kLeastReadableShare >= displayH;
        plan.kind = readable ? FitKind::Reduce : FitKind::TooSmall;
        if (!readable) {
            plan.w = frameW;
            plan.h = frameH;
        }
    }
    plan.x = (frameW - plan.w) / 2;
    plan.y = (frameH - plan.h) / 2;
    return plan;
}

void buildAxisTaps(int32_t from, int32_t to, AxisTaps& taps) {
    int32_t n = 0;
    for (int32_t t = 0; t < to; ++t) {
        taps.start[t] = n;
        // Target t covers [t * from, (t + 1) * from); source i [i * to, (i + 1) * to).
        const int64_t begin = static_cast<int64_t>(t) * from, end = begin + from;
        for (int64_t i = begin / to; i * to < end; ++i) {
            const int64_t overlap = std::min(end, (i + 1) * to) - std::max(begin, i * to);
            taps.source[n] = static_cast<int32_t>(i);
            taps.weight[n] = static_cast<uint32_t>(overlap);
            ++n;
        }
    }
    taps.start[to] = n;
}

void placeDisplay(const FitPlan& plan, const ConstFrame& display, const AxisTaps& tapsX,
                  const AxisTaps& tapsY, const Frame& frame) {
    fillAround(plan, frame);
    if (plan.kind == FitKind::Enlarge)
        enlarge(plan, display, frame);
    else
        reduce(plan, display, tapsX, tapsY, frame);
}

void blankFrame(const FitPlan& plan, const Frame& frame) {
    fillCanvasRows(frame, 0, frame.h, 0, frame.w);
    if (plan.kind != FitKind::TooSmall) return;
    const int32_t width = static_cast<int32_t>(sizeof kTooSmallNote - 1) * kGlyphSize;
    if (width > frame.w || kGlyphSize > frame.h) return;
    // Text plots land a row above the y given, and leave the alpha byte clear.
    drawText(frame, (frame.w - width) / 2, (frame.h - kGlyphSize) / 2 + 1, kTooSmallNote, kNoteColour);
    makeOpaque(frame);
}

void makeOpaque(const Frame& frame) {
    for (int32_t y = 0; y < frame.h; ++y) {
        uint32_t* row = frame.canvasRow(y);
        int32_t x = 0;
#if KIVREL_X86_KERNELS
        // SSE2, the floor of every x86 build: a full frame's pass, a third
        // of the video view's time when done a word at a time.
        const VecSse2::V alpha = VecSse2::set1(kOpaque);
        for (; x + VecSse2::kLanes <= frame.w; x += VecSse2::kLanes)
            VecSse2::store(row + x, VecSse2::orv(VecSse2::load(row + x), alpha));
#endif
        for (; x < frame.w; ++x) row[x] |= kOpaque;
    }
}

void buildNarrowing(int32_t from, int32_t to, int32_t* columns) {
    for (int32_t j = 0; j < to; ++j) columns[j] = nearestSource(j, to, from);
}

void narrowPicture(const ConstFrame& src, const int32_t* columns, const Frame& dst) {
    for (int32_t y = 0; y < dst.h; ++y) {
        const uint32_t* from = src.canvasRow(y);
        uint32_t* to = dst.canvasRow(y);
        for (int32_t j = 0; j < dst.w; ++j) to[j] = from[columns[j]];
    }
}
