// The built-in picture: the command-line host's default input and the test
// suite's reference frame, so both always show the same thing.
//
// Top two thirds: seven 75 % colour bars, left to right white, yellow, cyan,
// green, magenta, red, blue (each channel 0 or 191). Bottom third: a grey ramp
// over the full range, 0 at the left edge to 255 at the right edge.
#pragma once

#include <algorithm>
#include <cstdint>

#include "core/frame.h"

inline constexpr int32_t kTestCardWidth = 640;
inline constexpr int32_t kTestCardHeight = 480;

// 75 % of full scale: 0.75 * 255 = 191.25, truncated.
inline constexpr uint32_t kTestCardBars[] = {0xBFBFBF, 0xBFBF00, 0x00BFBF, 0x00BF00,
                                             0xBF00BF, 0xBF0000, 0x0000BF};
inline constexpr int32_t kTestCardBarCount = 7;
inline constexpr uint32_t kTestCardGreyStep = 0x010101;  // one level in all three bytes
inline constexpr int32_t kTestCardTopLevel = 255;

// The pixel at canvas position (x, y), y counted from the top.
inline uint32_t testCardPixel(int32_t x, int32_t y, int32_t w, int32_t h) {
    const int32_t barRows = h * 2 / 3;
    if (y < barRows)
        return kTestCardBars[std::min(kTestCardBarCount - 1, x * kTestCardBarCount / std::max(1, w))];
    const int32_t level = w > 1 ? x * kTestCardTopLevel / (w - 1) : 0;
    return static_cast<uint32_t>(level) * kTestCardGreyStep;
}

// The whole card at the frame's size.
inline void fillTestCard(const Frame& f) {
    for (int32_t y = 0; y < f.h; ++y) {
        uint32_t* row = f.canvasRow(y);
        for (int32_t x = 0; x < f.w; ++x) row[x] = testCardPixel(x, y, f.w, f.h);
    }
}
