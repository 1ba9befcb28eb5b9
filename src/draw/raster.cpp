#include "draw/raster.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kOpacityShift = 24;  // colour word: opacity in bits 24-31
constexpr int kRedShift = 16;
constexpr int kGreenShift = 8;
constexpr uint32_t kChannelMask = 0xFF;
// The opacity byte scales by steps of 1/255 taken as a double: 255 gives
// exactly 1, and the truncations below depend on its rounding (33 steps of it
// times 255 fall just below 33).
constexpr double kOpacityStep = 1.0 / 255.0;

// Plots land one canvas row above their y, so only y = 1 .. h - 1 is visible.
constexpr int64_t kFirstPlotRow = 1;

uint32_t channel(uint32_t word, int shift) { return (word >> shift) & kChannelMask; }

uint32_t blendChannel(uint32_t old, uint32_t colour, int shift, double f) {
    const int32_t o = static_cast<int32_t>(channel(old, shift));
    const int32_t c = static_cast<int32_t>(channel(colour, shift));
    // Truncation toward zero keeps the result between o and c.
    return static_cast<uint32_t>(o + static_cast<int32_t>((c - o) * f)) << shift;
}

// One axis of a Bresenham line, in 64 bits: endpoints are any int32, so
// the distance can reach 2^32 - 1.
struct Axis {
    int64_t start;
    int64_t step;      // +1 or -1
    int64_t distance;  // |end - start|
    int64_t lo, hi;    // the positions a plot can show on this axis
};

// Bresenham's error term after i steps has a closed form: with M the major
// and m the minor distance, the minor axis has moved
// k(i) = floor((2 m i + M) / 2M) and d(i) = 2m - M + 2 m i - 2 M k(i).
// m * i stays below 2^64, so splitting it by M keeps everything exact.
struct LineState {
    int64_t minorSteps;
    int64_t error;
};

LineState stateAfter(uint64_t major, uint64_t minor, uint64_t i) {
    const uint64_t p = minor * i;
    const uint64_t q = p / major;
    const uint64_t r = p % major;
    const uint64_t carry = (2 * r >= major) ? 1 : 0;
    const int64_t twiceRemainder = 2 * static_cast<int64_t>(r);
    const int64_t M = static_cast<int64_t>(major);
    return {static_cast<int64_t>(q + carry),
            2 * static_cast<int64_t>(minor) - M + twiceRemainder - 2 * M * static_cast<int64_t>(carry)};
}

// The range of steps [first, last] over which `axis`, moved by the step
// count `moved(i)` (non-decreasing in i), stays within [axis.lo, axis.hi].
// Returns false when there is none.
template <typename Moved>
bool visibleSteps(const Axis& axis, int64_t steps, Moved moved, int64_t& first, int64_t& last) {
    // Distances along the axis (in its own direction) that are visible.
    int64_t nearMove = axis.step > 0 ? axis.lo - axis.start : axis.start - axis.hi;
    int64_t farMove = axis.step > 0 ? axis.hi - axis.start : axis.start - axis.lo;
    nearMove = std::max<int64_t>(nearMove, 0);
    farMove = std::min<int64_t>(farMove, axis.distance);
    if (nearMove > farMove) return false;
    // First step that has moved at least nearMove.
    int64_t a = 0, b = steps;
    while (a < b) {
        const int64_t mid = a + (b - a) / 2;
        if (moved(mid) >= nearMove) {
            b = mid;
        } else {
            a = mid + 1;
        }
    }
    first = a;
    // Last step that has moved at most farMove.
    a = 0;
    b = steps;
    while (a < b) {
        const int64_t mid = a + (b - a + 1) / 2;
        if (moved(mid) <= farMove) {
            a = mid;
        } else {
            b = mid - 1;
        }
    }
    last = a;
    return first <= last;
}

}  // namespace

void fillRect(const Frame& dst, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) {
    // 64 bits: x + width must not overflow whatever the caller passes.
    int64_t left = x, top = y;
    int64_t cols = width == kFullExtent ? dst.w : width;
    int64_t rows = height == kFullExtent ? dst.h : height;
    if (left < 0) {
        cols += left;
        left = 0;
    }
    if (top < 0) {
        rows += top;
        top = 0;
    }
    if (left + cols > dst.w) cols = dst.w - left;
    if (top + rows > dst.h) rows = dst.h - top;
    if (cols <= 0 || rows <= 0) return;

    const auto bottom = static_cast<int32_t>(top + rows);
    for (auto row = static_cast<int32_t>(top); row < bottom; ++row) {
        uint32_t* start = dst.canvasRow(row) + left;
        // Clears are the large fills (a whole output every frame); the C
        // library's memset stores them at full vector width.
        if (colour == 0) {
            std::memset(start, 0, static_cast<size_t>(cols) * sizeof(uint32_t));
        } else {
            std::fill_n(start, cols, colour);
        }
    }
}

uint32_t blendPixel(uint32_t old, uint32_t colour) {
    const uint32_t opacity = colour >> kOpacityShift;
    if (opacity == 0) return old;
    const double f = opacity * kOpacityStep;
    return blendChannel(old, colour, kRedShift, f) | blendChannel(old, colour, kGreenShift, f) |
           blendChannel(old, colour, 0, f);
}

void plotPixel(const Frame& dst, int32_t x, int32_t y, uint32_t colour) {
    if (x < 0 || y < kFirstPlotRow || x >= dst.w || y >= dst.h) return;
    uint32_t& word = dst.canvasRow(y - 1)[x];
    word = blendPixel(word, colour);
}

void drawLine(const Frame& dst, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour) {
    const Axis ax{x1, x1 > x2 ? -1 : 1, std::abs(int64_t{x2} - x1), 0, int64_t{dst.w} - 1};
    const Axis ay{y1, y1 > y2 ? -1 : 1, std::abs(int64_t{y2} - y1), kFirstPlotRow, int64_t{dst.h} - 1};
    const bool xMajor = ax.distance >= ay.distance;  // a tie goes to x
    const Axis& major = xMajor ? ax : ay;
    const Axis& minor = xMajor ? ay : ax;
    const int64_t steps = major.distance;  // the line has steps + 1 points
    if (steps == 0) {
        plotPixel(dst, x1, y1, colour);
        return;
    }
    const auto M = static_cast<uint64_t>(major.distance);
    const auto m = static_cast<uint64_t>(minor.distance);

    // Walk only the stretch where the line can be inside the frame; the
    // points are those the full walk would plot there. Both coordinates move
    // monotonically, so each axis gives one contiguous range of steps.
    int64_t first = 0, last = 0, minorFirst = 0, minorLast = 0;
    if (!visibleSteps(
            major, steps, [](int64_t i) { return i; }, first, last))
        return;
    if (!visibleSteps(
            minor, steps, [M, m](int64_t i) { return stateAfter(M, m, static_cast<uint64_t>(i)).minorSteps; },
            minorFirst, minorLast)) {
        return;
    }
    first = std::max(first, minorFirst);
    last = std::min(last, minorLast);
    if (first > last) return;

    const LineState s = stateAfter(M, m, static_cast<uint64_t>(first));
    const int64_t majorAt = major.start + major.step * first;
    const int64_t minorAt = minor.start + minor.step * s.minorSteps;
    int64_t x = xMajor ? majorAt : minorAt;
    int64_t y = xMajor ? minorAt : majorAt;
    int64_t d = s.error;
    // A straight step moves along the major axis only, a diagonal one along both.
    const int64_t straightX = xMajor ? ax.step : 0;
    const int64_t straightY = xMajor ? 0 : ay.step;
    const int64_t straightError = 2 * static_cast<int64_t>(m);
    const int64_t diagonalError = 2 * (static_cast<int64_t>(m) - static_cast<int64_t>(M));
    for (int64_t i = first; i <= last; ++i) {
        plotPixel(dst, static_cast<int32_t>(x), static_cast<int32_t>(y), colour);
        if (d < 0) {
            d += straightError;
            x += straightX;
            y += straightY;
        } else {
            // d = 0 takes the diagonal step.
            d += diagonalError;
            x += ax.step;
            y += ay.step;
        }
    }
}
