// The 8x8 code page 437 font: 256 glyphs of 8 row bytes, row 0 on top,
// bit 7 the leftmost pixel.
#pragma once

#include <cstdint>

inline constexpr int kFontGlyphs = 256;
inline constexpr int kFontRows = 8;
extern const uint8_t fontTable[kFontGlyphs][kFontRows];
