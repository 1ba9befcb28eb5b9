// Clipped drawing on an output frame, in canvas coordinates (x from the
// left, y from the top). Colour words are 0xAARRGGBB with an opacity in the
// top byte: fills store the word as it is, plots blend by the opacity and
// leave a top byte of 0.
#pragma once

#include <cstdint>

#include "core/frame.h"

inline constexpr uint32_t kGraticuleColour = 0xFFFFB700;  // opaque amber
inline constexpr uint32_t kClearColour = 0x00000000;
inline constexpr int32_t kFullExtent = -1;  // fillRect width/height: the whole frame

void fillRect(const Frame& dst, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour);
uint32_t blendPixel(uint32_t old, uint32_t colour);
// Plots land one canvas row above y (canvas pixel (x, y - 1)).
void plotPixel(const Frame& dst, int32_t x, int32_t y, uint32_t colour);
void drawLine(const Frame& dst, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour);
