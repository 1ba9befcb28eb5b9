#include "draw/text.h"

#include <algorithm>
#include <cstdint>

#include "draw/font.h"
#include "draw/raster.h"

namespace {

constexpr uint8_t kLeftmostPixel = 0x80;  // bit 7 of a row byte is column 0

// How many of the `count` coordinates from `start` on fit in an int32_t.
int32_t cellsUpToLimit(int32_t start, int32_t count) {
    return static_cast<int32_t>(std::min<int64_t>(count, int64_t{INT32_MAX} - start + 1));
}

}  // namespace

void drawGlyph(const Frame& dst, int32_t x, int32_t y, unsigned char code, uint32_t colour) {
    // A glyph near INT32_MAX keeps only the columns and rows whose
    // coordinates exist; they lie outside any frame anyway, but must not wrap.
    const int32_t columns = cellsUpToLimit(x, kGlyphSize);
    const int32_t rows = cellsUpToLimit(y, kFontRows);
    const uint8_t* glyph = fontTable[code];
    for (int32_t r = 0; r < rows; ++r) {
        for (int32_t j = 0; j < columns; ++j) {
            if (glyph[r] & (kLeftmostPixel >> j)) plotPixel(dst, x + j, y + r, colour);
        }
    }
}

void drawText(const Frame& dst, int32_t x, int32_t y, const char* text, uint32_t colour) {
    for (int32_t i = 0;; ++i) {
        const int64_t cellX = int64_t{x} + int64_t{kGlyphSize} * i;
        if (cellX > INT32_MAX) return;  // this and every later cell lie right of any frame
        // The first byte is drawn before any test: an empty string draws
        // glyph 0, which is blank.
        drawGlyph(dst, static_cast<int32_t>(cellX), y, static_cast<unsigned char>(text[i]), colour);
        // Looking one byte ahead is only safe while this one is not the
        // terminator: an empty string ends here.
        if (text[i] == '\0' || i >= kMaxTextIndex || text[i + 1] == '\0') return;
    }
}
