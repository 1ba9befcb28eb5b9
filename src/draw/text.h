// Text from the built-in 8x8 font, drawn with plotPixel (blended, clipped).
#pragma once

#include <cstdint>

#include "core/frame.h"

inline constexpr int32_t kGlyphSize = 8;
inline constexpr int32_t kMaxTextIndex = 1024;  // drawText stops after index 1024: 1025 glyphs

void drawGlyph(const Frame& dst, int32_t x, int32_t y, unsigned char code, uint32_t colour);
void drawText(const Frame& dst, int32_t x, int32_t y, const char* text, uint32_t colour);
