#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>

#include "draw/font.h"
#include "draw/raster.h"
#include "draw/text.h"
#include "support/image.h"

namespace {

constexpr uint32_t kAmber = kGraticuleColour;
constexpr uint32_t kPlottedAmber = 0x00FFB700;  // amber plotted on black
constexpr int32_t kPad = 2;

// What drawing `text` at (x, y) over `background` must leave: `ink` one
// canvas row above each set glyph bit, clipped to the rows a plot reaches.
Image expectedText(int32_t w, int32_t h, int32_t x, int32_t y, const std::string& text,
                   uint32_t background = 0, uint32_t ink = kPlottedAmber) {
    Image img(w, h, background);
    for (size_t i = 0; i < text.size(); ++i)
        for (int32_t r = 0; r < kFontRows; ++r)
            for (int32_t j = 0; j < kGlyphSize; ++j) {
                const int64_t px = x + static_cast<int64_t>(i) * kGlyphSize + j, py = y + r - 1;
                const bool set =
                    fontTable[static_cast<unsigned char>(text[i])][r] >> (kGlyphSize - 1 - j) & 1;
                if (set && px >= 0 && px < w && py >= 0 && py < h - 1) img.at(int32_t(px), int32_t(py)) = ink;
            }
    return img;
}

void expectSame(const Image& got, const Image& want) {
    for (int32_t y = 0; y < want.h; ++y)
        for (int32_t x = 0; x < want.w; ++x)
            ASSERT_EQ(got.at(x, y), want.at(x, y)) << "at (" << x << ", " << y << ")";
}

}  // namespace

TEST(Text, InksTheGlyphBitsOneRowUpClippedAndBlended) {
    struct Case {
        int32_t w, h, x, y;
        const char* text;
        uint32_t bg = 0, colour = kAmber, ink = kPlottedAmber;
    };
    const Case cases[] = {
        {50, 40, 10, 20, "Min"},
        // Clipped at every edge; at (-3, -2) only glyph pixels with x + j >= 0 and y + r >= 1 show.
        {21, 13, -3, -2, "AQ"},
        {21, 13, 15, 9, "AQ"},
        {21, 13, -7, 12, "AQ"},
        {21, 13, 20, -6, "AQ"},
        {21, 13, 5, 1, "AQ"},
        {21, 13, 5, 0, "AQ"},
        // Blended over the background; clear bits leave it alone.
        {20, 12, 2, 3, "x", 0xAA123456, 0x80FFFFFF, blendPixel(0xAA123456, 0x80FFFFFF)},
        // char is signed on these compilers: "\xB3" must still reach glyph 0xB3.
        {12, 12, 0, 1, "\xB3"},
        {12, 12, 2, 2, "\xDB"},
        {12, 12, 2, 2, " ", 0x01010101},
        {12, 12, 2, 2, "\xFF", 0x01010101},  // blank glyphs
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::tuple(std::string(c.text), c.x, c.y)));
        StoredFrame f(c.w, c.h, kPad, c.bg);
        drawText(f.frame(), c.x, c.y, c.text, c.colour);
        expectSame(f.image(), expectedText(c.w, c.h, c.x, c.y, c.text, c.bg, c.ink));
        EXPECT_TRUE(f.paddingIntact());
    }
    // Anchors for the reference: M's top-left, the dot of i in columns 18-25,
    // n starting in column 26 at its row 2.
    const Image min = expectedText(50, 40, 10, 20, "Min");
    for (auto [x, y] : {std::pair{10, 19}, {21, 19}, {26, 21}})
        EXPECT_EQ(min.at(x, y), kPlottedAmber) << x << "," << y;
    EXPECT_EQ(expectedText(12, 12, 2, 2, "\xDB").at(9, 8), kPlottedAmber);
}

TEST(Text, StopsAtTheTerminator) {
    // An empty string draws nothing, and nothing past a terminator is read or drawn.
    const char emptyThenMore[] = {'\0', 'A', 'A', '\0'}, oneThenMore[] = {'A', '\0', 'A', '\0'};
    for (const char* text : {"", emptyThenMore, oneThenMore}) {
        SCOPED_TRACE(text == oneThenMore ? "A, 0, A" : text == emptyThenMore ? "0, A, A" : "empty");
        StoredFrame f(32, 16, kPad, 0x5A5A5A5A);
        drawText(f.frame(), 3, 3, text, kAmber);
        expectSame(f.image(), expectedText(32, 16, 3, 3, text, 0x5A5A5A5A));
    }
}

TEST(Text, StopsAfter1025Characters) {
    // 2000 full blocks: cells 0 to 1024 are drawn, the last at x + 8192.
    const std::string blocks(2000, '\xDB'), drawn(1025, '\xDB');
    for (int32_t x : {3, -8000}) {
        SCOPED_TRACE(x);
        StoredFrame f(8300, 3, kPad);
        drawText(f.frame(), x, 1, blocks.c_str(), kAmber);
        expectSame(f.image(), expectedText(8300, 3, x, 1, drawn));
        EXPECT_TRUE(f.paddingIntact());
    }
}

TEST(Text, ExtremeCoordinatesAndTinyFramesDrawNothingOutside) {
    const std::string blocks(2000, '\xDB');
    StoredFrame f(16, 16, kPad, 0x33333333);
    for (int32_t x : {INT_MIN, INT_MIN + 5, -9000, INT_MAX - 20, INT_MAX - 7, INT_MAX}) {
        for (int32_t y : {INT_MIN, INT_MIN + 3, -9, INT_MAX - 7, INT_MAX - 3, INT_MAX}) {
            drawText(f.frame(), x, y, blocks.c_str(), kAmber);
            drawGlyph(f.frame(), x, y, 0xDB, kAmber);
        }
    }
    expectSame(f.image(), Image(16, 16, 0x33333333));
    EXPECT_TRUE(f.paddingIntact());

    StoredFrame one(1, 1, kPad, 0x44444444);
    for (int32_t y = -8; y <= 2; ++y) drawText(one.frame(), -7, y, "\xDB\xDB", kAmber);
    EXPECT_EQ(one.image().at(0, 0), 0x44444444u) << "no plot reaches the bottom row";
    EXPECT_TRUE(one.paddingIntact());
}
