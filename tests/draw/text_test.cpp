#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "draw/font.h"
#include "draw/raster.h"
#include "draw/text.h"
#include "support/image.h"

namespace {

constexpr uint32_t kAmber = kGraticuleColour;
constexpr uint32_t kPlottedAmber = 0x00FFB700;
constexpr int32_t kPad = 2;
constexpr unsigned char kFullBlock = 0xDB;

bool inked(unsigned char code, int32_t row, int32_t column) {
    return (fontTable[code][row] >> (kGlyphSize - 1 - column)) & 1;
}

// What drawing `text` at (x, y) with kAmber on black must leave: ink one
// canvas row above each glyph pixel's y.
Image expectedText(int32_t w, int32_t h, int32_t x, int32_t y, const std::string& text) {
    Image img(w, h);
    for (size_t i = 0; i < text.size(); ++i) {
        for (int32_t r = 0; r < kFontRows; ++r) {
            for (int32_t j = 0; j < kGlyphSize; ++j) {
                const int64_t px = x + static_cast<int64_t>(i) * kGlyphSize + j, py = y + r - 1;
                if (px >= 0 && px < w && py >= 0 && py < h - 1 &&
                    inked(static_cast<unsigned char>(text[i]), r, j))
                    img.at(static_cast<int32_t>(px), static_cast<int32_t>(py)) = kPlottedAmber;
            }
        }
    }
    return img;
}

void expectSame(const Image& got, const Image& want) {
    ASSERT_EQ(got.w, want.w);
    ASSERT_EQ(got.h, want.h);
    for (int32_t y = 0; y < got.h; ++y)
        for (int32_t x = 0; x < got.w; ++x)
            ASSERT_EQ(got.at(x, y), want.at(x, y)) << "at (" << x << ", " << y << ")";
}

}  // namespace

TEST(Text, MinLabelPixelByPixel) {
    constexpr int32_t w = 50, h = 40;
    StoredFrame f(w, h, kPad);
    drawText(f.frame(), 10, 20, "Min", kAmber);
    const Image img = f.image();
    expectSame(img, expectedText(w, h, 10, 20, "Min"));
    // The ink stays within the three cells: columns 10-33, canvas rows 19-26,
    // and each letter in its own cell.
    int32_t inkedPixels = 0;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            if (img.at(x, y) == 0) continue;
            ++inkedPixels;
            EXPECT_TRUE(x >= 10 && x <= 33 && y >= 19 && y <= 26) << "ink at (" << x << ", " << y << ")";
        }
    }
    EXPECT_GT(inkedPixels, 0);
    EXPECT_NE(img.at(10, 19), 0u) << "top-left of M";
    EXPECT_NE(img.at(21, 19), 0u) << "the dot of i, in columns 18-25";
    EXPECT_NE(img.at(26, 21), 0u) << "n starts in column 26 at its row 2";
    EXPECT_TRUE(f.paddingIntact());
}

TEST(Text, BlendsOverTheBackgroundAndLeavesClearBitsAlone) {
    StoredFrame f(20, 12, kPad, 0xAA123456);
    drawGlyph(f.frame(), 2, 3, 'x', 0x80FFFFFF);
    const Image img = f.image();
    for (int32_t y = 0; y < img.h; ++y) {
        for (int32_t x = 0; x < img.w; ++x) {
            const int32_t r = y + 1 - 3, j = x - 2;
            const bool ink = r >= 0 && r < 8 && j >= 0 && j < 8 && inked('x', r, j);
            ASSERT_EQ(img.at(x, y), ink ? blendPixel(0xAA123456, 0x80FFFFFF) : 0xAA123456u)
                << "at (" << x << ", " << y << ")";
        }
    }
}

TEST(Text, BlankAndFullGlyphs) {
    for (unsigned char code : {0x00, 0x20, 0xFF}) {
        StoredFrame f(12, 12, kPad, 0x01010101);
        drawGlyph(f.frame(), 2, 2, code, kAmber);
        expectSame(f.image(), Image(12, 12, 0x01010101));
    }
    StoredFrame f(12, 12, kPad);
    drawGlyph(f.frame(), 2, 2, kFullBlock, kAmber);
    const Image img = f.image();
    for (int32_t y = 0; y < 12; ++y)
        for (int32_t x = 0; x < 12; ++x)
            ASSERT_EQ(img.at(x, y), (x >= 2 && x < 10 && y >= 1 && y < 9) ? kPlottedAmber : 0u)
                << "at (" << x << ", " << y << ")";
}

TEST(Text, UpperHalfCodesFromSignedChars) {
    // char is signed on these compilers: "\xB3" must still reach glyph 0xB3,
    // the 2-pixel bar in columns 3 and 4.
    StoredFrame f(12, 12, kPad);
    drawText(f.frame(), 0, 1, "\xB3", kAmber);
    const Image img = f.image();
    for (int32_t y = 0; y < 12; ++y)
        for (int32_t x = 0; x < 12; ++x)
            ASSERT_EQ(img.at(x, y), (x == 3 || x == 4) && y < 8 ? kPlottedAmber : 0u)
                << "at (" << x << ", " << y << ")";
}

TEST(Text, EmptyStringChangesNothing) {
    // Bytes after the terminator are not part of the string: nothing past it
    // is read or drawn.
    const char emptyThenMore[] = {'\0', 'A', 'A', '\0'};
    StoredFrame f(32, 16, kPad, 0x5A5A5A5A);
    drawText(f.frame(), 3, 3, "", kAmber);
    drawText(f.frame(), 3, 3, emptyThenMore, kAmber);
    expectSame(f.image(), Image(32, 16, 0x5A5A5A5A));

    // A single character stops at its terminator too.
    const char oneThenMore[] = {'A', '\0', 'A', '\0'};
    StoredFrame g(32, 16, kPad);
    drawText(g.frame(), 3, 3, oneThenMore, kAmber);
    expectSame(g.image(), expectedText(32, 16, 3, 3, "A"));
}

TEST(Text, ClipsAtEveryEdge) {
    constexpr int32_t w = 21, h = 13;
    struct Case {
        int32_t x, y;
    };
    // (-3, -2): only glyph pixels with x + j >= 0 and y + r >= 1 show.
    for (const Case c : {Case{-3, -2}, Case{15, 9}, Case{-7, 12}, Case{20, -6}, Case{5, 1}, Case{5, 0}}) {
        SCOPED_TRACE("at (" + std::to_string(c.x) + ", " + std::to_string(c.y) + ")");
        StoredFrame f(w, h, kPad);
        drawText(f.frame(), c.x, c.y, "AQ", kAmber);
        expectSame(f.image(), expectedText(w, h, c.x, c.y, "AQ"));
        EXPECT_TRUE(f.paddingIntact());
    }
}

TEST(Text, StopsAfter1025Characters) {
    // 2000 full blocks from x = 3: cells 0 to 1024 are drawn, the last at
    // x + 8192, so the ink ends at column 3 + 8200 - 1.
    const std::string blocks(2000, static_cast<char>(kFullBlock));
    constexpr int32_t w = 8300, h = 3;
    StoredFrame f(w, h, kPad);
    drawText(f.frame(), 3, 1, blocks.c_str(), kAmber);
    const Image img = f.image();
    for (int32_t x = 0; x < w; ++x)
        ASSERT_EQ(img.at(x, 0), x >= 3 && x < 3 + (kMaxTextIndex + 1) * kGlyphSize ? kPlottedAmber : 0u)
            << "column " << x;
    EXPECT_TRUE(f.paddingIntact());

    // From far left, the cap decides what still reaches the frame.
    StoredFrame g(300, 3, kPad);
    drawText(g.frame(), -8000, 1, blocks.c_str(), kAmber);
    const Image left = g.image();
    for (int32_t x = 0; x < 300; ++x)
        ASSERT_EQ(left.at(x, 0), x < -8000 + 8200 ? kPlottedAmber : 0u) << "column " << x;
}

TEST(Text, ExtremeCoordinatesDrawNothingOutside) {
    const std::string blocks(2000, static_cast<char>(kFullBlock));
    StoredFrame f(16, 16, kPad, 0x33333333);
    const Frame fr = f.frame();
    for (int32_t x : {INT_MIN, INT_MIN + 5, -9000, INT_MAX - 20, INT_MAX - 7, INT_MAX}) {
        for (int32_t y : {INT_MIN, INT_MIN + 3, -9, INT_MAX - 7, INT_MAX - 3, INT_MAX}) {
            drawText(fr, x, y, blocks.c_str(), kAmber);
            drawGlyph(fr, x, y, kFullBlock, kAmber);
        }
    }
    expectSame(f.image(), Image(16, 16, 0x33333333));
    EXPECT_TRUE(f.paddingIntact());
}

TEST(Text, OneByOneFrame) {
    StoredFrame f(1, 1, kPad, 0x44444444);
    for (int32_t y = -8; y <= 2; ++y) drawText(f.frame(), -7, y, "\xDB\xDB", kAmber);
    EXPECT_EQ(f.image().at(0, 0), 0x44444444u) << "no plot reaches the bottom row";
    EXPECT_TRUE(f.paddingIntact());
}
