#include "input/rotation.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kQuartersPerTurn = 4;

}  // namespace

int quartersClockwise(double counterClockwise) {
    if (std::isnan(counterClockwise)) return 0;
    const long quarters = std::lround(-counterClockwise / kQuarterTurn);
    return static_cast<int>(((quarters % kQuartersPerTurn) + kQuartersPerTurn) % kQuartersPerTurn) *
           kQuarterTurn;
}

void turnPicture(const Turn& turn, const uint32_t* src, FrameBuffer& out) {
    uint8_t* top = out.topRowBytes();
    const int stride = out.topDownStride();
    for (int32_t y = 0; y < out.h(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(top + static_cast<ptrdiff_t>(y) * stride);
        for (int32_t x = 0; x < out.w(); ++x) {
            int32_t sx = 0, sy = 0;
            turn.source(x, y, sx, sy);
            row[x] =
                src[static_cast<size_t>(sy) * static_cast<size_t>(turn.storedW) + static_cast<size_t>(sx)];
        }
    }
}

PlaneWindow storedWindow(const Turn& turn, int32_t x, int32_t y, int32_t w, int32_t h) {
    // Opposite corners land on opposite corners, whichever way it turns.
    int32_t ax = 0, ay = 0, bx = 0, by = 0;
    turn.source(x, y, ax, ay);
    if (w <= 0 || h <= 0) return {ay, ay, ax, ax};
    turn.source(x + w - 1, y + h - 1, bx, by);
    return {std::min(ay, by), std::max(ay, by) + 1, std::min(ax, bx), std::max(ax, bx) + 1};
}
