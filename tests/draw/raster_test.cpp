#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "draw/raster.h"
#include "support/image.h"
#include "support/rng.h"

namespace {

constexpr uint32_t kAmber = kGraticuleColour;
constexpr uint32_t kPlottedAmber = 0x00FFB700;  // a plot stores the blend with a top byte of 0
constexpr int32_t kPad = 3;                     // padding words per row, holding kSentinel

using Point = std::pair<int64_t, int64_t>;
using Points = std::set<Point>;

std::string args(int64_t a, int64_t b, int64_t c, int64_t d) {
    return testing::PrintToString(std::tuple(a, b, c, d));
}

// The points drawLine handed to plotPixel: a plot at (x, y) inks canvas pixel (x, y - 1).
Points linePoints(int32_t w, int32_t h, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    StoredFrame f(w, h, kPad);
    drawLine(f.frame(), x1, y1, x2, y2, kAmber);
    EXPECT_TRUE(f.paddingIntact());
    const Image img = f.image();
    Points out;
    for (int32_t i = 0; i < w * h; ++i)
        if (img.px[i] != 0) out.insert({i % w, i / w + 1});
    return out;
}

// The textbook loop, one step per point, in 64 bits; keeps the points a plot
// can show (0 <= x < w, 1 <= y < h).
Points naiveLine(int32_t w, int32_t h, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
    const int64_t dx = std::llabs(x2 - x1), dy = std::llabs(y2 - y1);
    const int64_t major = std::max(dx, dy), minor = std::min(dx, dy);  // a tie goes to x
    Points out;
    for (int64_t i = 0, d = 2 * minor - major, x = x1, y = y1; i <= major; ++i) {
        if (x >= 0 && x < w && y >= 1 && y < h) out.insert({x, y});
        const bool diagonal = d >= 0;
        d += diagonal ? 2 * (minor - major) : 2 * minor;
        if (diagonal || dx >= dy) x += x1 > x2 ? -1 : 1;
        if (diagonal || dx < dy) y += y1 > y2 ? -1 : 1;
    }
    return out;
}

// n points from (x, y) in steps of (dx, dy).
Points run(int64_t x, int64_t y, int64_t dx, int64_t dy, int64_t n) {
    Points out;
    for (int64_t i = 0; i < n; ++i) out.insert({x + i * dx, y + i * dy});
    return out;
}

}  // namespace

TEST(FillRect, ClipsAndStoresTheWordUnblended) {
    constexpr int32_t w = 120, h = 40;
    struct Rect {
        int32_t x0, y0, x1, y1;
    };  // inclusive canvas corners; x1 < x0 when empty
    constexpr Rect kNothing{0, 0, -1, -1};
    struct Case {
        int32_t x, y, width, height;
        Rect fill;
    };
    const Case cases[] = {
        {0, 0, -1, -1, {0, 0, w - 1, h - 1}},
        {-5, 10, 20, 3, {0, 10, 14, 12}},
        {7, 8, 1, 1, {7, 8, 7, 8}},
        {100, 0, -1, 1, {100, 0, w - 1, 0}},  // width becomes w, then w - 100
        {-5, 0, -1, 1, {0, 0, w - 6, 0}},     // -1 is replaced before clipping
        {0, 3, 2, -1, {0, 3, 1, h - 1}},
        {-1, -1, 3, 2, {0, 0, 1, 0}},
        {w - 1, h - 1, 5, 5, {w - 1, h - 1, w - 1, h - 1}},
        {3, 4, -2, 5, kNothing},  // only -1 is special
        {3, 4, 0, 5, kNothing},
        {3, 4, 5, 0, kNothing},
        {w, 0, 5, 5, kNothing},
        {0, h, 5, 5, kNothing},
        {-5, 0, 5, 5, kNothing},
        {0, -5, 5, 5, kNothing},
        // Sums that overflow 32 bits.
        {INT_MIN, INT_MIN, INT_MAX, INT_MAX, kNothing},
        {-10, -10, INT_MAX, INT_MAX, {0, 0, w - 1, h - 1}},
        {5, 6, INT_MAX, INT_MAX, {5, 6, w - 1, h - 1}},
        {INT_MAX, INT_MAX, INT_MAX, INT_MAX, kNothing},
        {INT_MAX, 0, -1, -1, kNothing},
        {INT_MIN, 0, -1, -1, kNothing},
        {INT_MIN, INT_MIN, -1, -1, kNothing},
        {INT_MIN, 0, INT_MIN, 1, kNothing},
    };
    Image pic(w, h);  // a recognisable picture, so that a write to the wrong pixel shows
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) pic.at(x, y) = 0x5A000000u | static_cast<uint32_t>(y << 12 | x);
    for (const Case& c : cases) {
        for (uint32_t colour : {kAmber, kClearColour, 0x12345678u}) {
            SCOPED_TRACE("fillRect" + args(c.x, c.y, c.width, c.height) + " colour " +
                         std::to_string(colour));
            StoredFrame f(pic, kPad);
            fillRect(f.frame(), c.x, c.y, c.width, c.height, colour);
            const Image after = f.image();
            const Rect& r = c.fill;
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    ASSERT_EQ(after.at(x, y),
                              x >= r.x0 && x <= r.x1 && y >= r.y0 && y <= r.y1 ? colour : pic.at(x, y))
                        << "at (" << x << ", " << y << ")";
            EXPECT_TRUE(f.paddingIntact());
        }
    }
}

TEST(FillRect, AddressesStoredRowsBottomUp) {
    // The vectorscope's vertical axis: column 313 of canvas rows 0 to 627 is
    // stored rows 4 to 631 of a 632-row frame.
    StoredFrame f(632, 632, kPad);
    const Frame fr = f.frame();
    fillRect(fr, 313, 0, 1, 628, kAmber);
    for (int32_t k = 0; k < 632; ++k)
        for (int32_t x = 312; x <= 314; ++x)
            ASSERT_EQ(fr.storedRow(k)[x], (x == 313 && k >= 4) ? kAmber : 0)
                << "stored row " << k << " column " << x;
    EXPECT_TRUE(f.paddingIntact());
}

TEST(Raster, OneByOneAndEmptyFrames) {
    StoredFrame one(1, 1, kPad, 0x01020304);
    const Frame fr = one.frame();
    for (int32_t y = -1; y <= 2; ++y) plotPixel(fr, 0, y, kAmber);
    drawLine(fr, -3, -3, 3, 3, kAmber);
    drawLine(fr, 0, INT_MIN, 0, INT_MAX, kAmber);
    EXPECT_EQ(one.image().at(0, 0), 0x01020304u) << "no plot reaches the bottom row";
    fillRect(fr, -1, -1, 3, 3, 0x22222222);
    fillRect(fr, 1, 0, 1, 1, kAmber);
    EXPECT_EQ(one.image().at(0, 0), 0x22222222u);
    fillRect(fr, 0, 0, -1, -1, kAmber);
    EXPECT_EQ(one.image().at(0, 0), kAmber);
    EXPECT_TRUE(one.paddingIntact());

    StoredFrame empty(0, 0, kPad);
    fillRect(empty.frame(), 0, 0, -1, -1, kAmber);  // nothing to write, nothing written
    EXPECT_EQ(empty.data()[0], kSentinel);
}

TEST(BlendPixel, KnownValues) {
    struct Case {
        uint32_t old, colour, expected;
    };
    const Case cases[] = {
        {0x00000000, 0xFFFFB700, 0x00FFB700}, {0xFF102030, 0xFFFFB700, 0x00FFB700},  // opaque: top byte 0
        {0x12345678, 0x00FFFFFF, 0x12345678},  // opacity 0 keeps the word, top byte included
        {0x00000000, 0x80FFFFFF, 0x00808080}, {0x00FFFFFF, 0x80000000, 0x007F7F7F},  // truncation toward zero
        {0x00404040, 0x40FFFFFF, 0x006F6F6F},  // 64 + trunc(191 * 64/255)
        {0x00000000, 0x21FFFFFF, 0x00202020},  // 33 * (1/255) * 255 falls just below 33
        {0x00000000, 0x01FFFFFF, 0x00010101},  // (1/255) * 255 is exactly 1
        {0x00FF0000, 0x800000FF, 0x007F0080},  // channels blend independently
    };
    for (const Case& c : cases)
        EXPECT_EQ(blendPixel(c.old, c.colour), c.expected)
            << std::hex << "old " << c.old << " colour " << c.colour;
}

TEST(PlotPixel, LandsOneRowAboveAndClearsTheTopByte) {
    constexpr int32_t w = 6, h = 5;
    constexpr uint32_t kBlack = 0x7F000000;  // black, with an opacity byte a plot must clear
    StoredFrame f(w, h, kPad, kBlack);
    const Frame fr = f.frame();
    plotPixel(fr, 0, 1, kAmber);
    plotPixel(fr, 2, h - 1, kAmber);
    EXPECT_EQ(fr.storedRow(h - 1)[0], kPlottedAmber) << "y = 1 is the top-left pixel, the last stored row";
    EXPECT_EQ(fr.storedRow(1)[2], kPlottedAmber) << "y = h - 1 is the second stored row";
    Image expected(w, h, kBlack);
    expected.at(0, 0) = expected.at(2, h - 2) = kPlottedAmber;
    // Nothing else changes, neither by plots outside the visible range nor at
    // opacity 0 (the top byte included).
    struct Plot {
        int32_t x, y;
        uint32_t colour = kAmber;
    };
    for (const Plot p : {Plot{2, h - 1, 0x00FFFFFF},
                         {0, 0},
                         {w, 5},
                         {-1, 3},
                         {0, h},
                         {INT_MIN, 1},
                         {INT_MAX, 1},
                         {0, INT_MIN},
                         {0, INT_MAX},
                         {3, 2, 0x00FFFFFF}}) {
        plotPixel(fr, p.x, p.y, p.colour);
        EXPECT_EQ(f.image().px, expected.px) << "plot at (" << p.x << ", " << p.y << ") colour " << p.colour;
    }
    EXPECT_TRUE(f.paddingIntact());
}

TEST(DrawLine, PointSequences) {
    constexpr int32_t w = 12, h = 9;
    struct Case {
        int32_t x1, y1, x2, y2;
        Points expected;
    };
    const Case cases[] = {
        {0, 1, 5, 3, {{0, 1}, {1, 1}, {2, 2}, {3, 2}, {4, 3}, {5, 3}}},
        {0, 1, 2, 2, {{0, 1}, {1, 2}, {2, 2}}},  // d = 0 takes the diagonal step
        {2, 2, 0, 1, {{2, 2}, {1, 1}, {0, 1}}},  // the other way round is not the same line
        {0, 1, 4, 5, run(0, 1, 1, 1, 5)},
        {3, 3, 3, 3, {{3, 3}}},
        {1, 1, 1, 4, run(1, 1, 0, 1, 4)},
        {2, 1, 0, 7, {{2, 1}, {2, 2}, {1, 3}, {1, 4}, {1, 5}, {0, 6}, {0, 7}}},  // y-major, x falling
        // From inside the frame to outside: the inside points of the same line.
        {5, 5, 20, 8, {{5, 5}, {6, 5}, {7, 5}, {8, 6}, {9, 6}, {10, 6}, {11, 6}}},
        // Extreme endpoints: the walk is shortened to the stretch inside the frame.
        {INT_MIN, 5, INT_MAX, 5, run(0, 5, 1, 0, w)},
        {INT_MAX, 5, INT_MIN, 5, run(0, 5, 1, 0, w)},
        {INT_MIN, INT_MIN, INT_MAX, INT_MAX, run(1, 1, 1, 1, h - 1)},  // a tie: every step is diagonal
        {INT_MAX, INT_MAX, INT_MIN, INT_MIN, run(1, 1, 1, 1, h - 1)},
        {4, INT_MIN, 4, INT_MAX, run(4, 1, 0, 1, h - 1)},
        {4, INT_MAX, 4, INT_MIN, run(4, 1, 0, 1, h - 1)},
        {INT_MIN, INT_MAX, INT_MAX, INT_MIN, {}},  // y = -1 - x: never inside
        // Slope 3 / (2^32 - 1) from x = INT_MIN: at x = t >= 0 the walk has
        // taken 2^31 + t steps, k = floor((6 (2^31 + t) + M) / 2M) = 2 while t is small.
        {INT_MIN, 0, INT_MAX, 3, run(0, 2, 1, 0, w)},
        {0, 3, INT_MAX, 3, run(0, 3, 1, 0, w)},
        {2, 2, INT_MIN, 2, run(0, 2, 1, 0, 3)},
        {INT_MIN, INT_MIN, INT_MIN, INT_MAX, {}},
        {INT_MAX, INT_MIN, INT_MIN + 1, INT_MIN, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("drawLine" + args(c.x1, c.y1, c.x2, c.y2));
        const Points got = linePoints(w, h, c.x1, c.y1, c.x2, c.y2);
        EXPECT_EQ(got, c.expected);
        if (std::llabs(int64_t{c.x2} - c.x1) + std::llabs(int64_t{c.y2} - c.y1) <
            1000) {  // the loop is quick
            EXPECT_EQ(got, naiveLine(w, h, c.x1, c.y1, c.x2, c.y2));
        }
    }
}

TEST(DrawLine, MatchesTheStepByStepLoopOnRandomLines) {
    // Short lines around and across the frame, and long ones from far away
    // whose walk the drawing shortens to the stretch inside the frame.
    TestRng rng{12345};
    struct Range {
        int32_t lo, hi, count;
    };
    for (const Range& r : {Range{-30, 60, 3000}, Range{-3000, 3000, 300}, Range{-2000000, 2000000, 20}}) {
        for (int32_t i = 0; i < r.count; ++i) {
            const int32_t w = 1 + rng.below(40), h = 1 + rng.below(30);
            auto coord = [&] { return r.lo + rng.below(r.hi - r.lo + 1); };
            int32_t x1 = coord(), y1 = coord(), x2 = coord(), y2 = coord();
            if (i % 2) {  // through the frame: the far end mirrored about a point inside it
                x2 = 2 * rng.below(w) - x1;
                y2 = 2 * rng.below(h) - y1;
            }
            ASSERT_EQ(linePoints(w, h, x1, y1, x2, y2), naiveLine(w, h, x1, y1, x2, y2))
                << "frame " << w << "x" << h << " drawLine" << args(x1, y1, x2, y2);
        }
    }
}

TEST(DrawLine, GoldenPicture) {
    // Fills stored as they are, then blended lines of several opacities over
    // them, some running off every edge.
    StoredFrame f(160, 120, kPad);
    const Frame fr = f.frame();
    fillRect(fr, 0, 0, -1, -1, 0xFF101020);
    fillRect(fr, 10, 10, 60, 40, 0xFF2060A0);
    fillRect(fr, 90, 60, 80, 70, 0x80A04020);
    fillRect(fr, -20, 80, 50, -1, 0xFF306030);
    for (int32_t i = 0; i <= 16; ++i) {
        const uint32_t opacity = static_cast<uint32_t>(0x10 + i * 0x0E) << 24;
        drawLine(fr, 80, 60, i * 10, 1, opacity | 0xFFB700);
        drawLine(fr, 80, 60, i * 10 - 5, 119, opacity | 0xFFFFFF);
    }
    for (int32_t i = 0; i < 12; ++i) drawLine(fr, -40, i * 12, 200, 130 - i * 12, 0x60FF4040);
    for (auto [x1, y1, x2, y2] :
         {std::array{0, 1, 159, 1}, {0, 119, 159, 119}, {0, 1, 0, 119}, {159, 1, 159, 119}})
        drawLine(fr, x1, y1, x2, y2, kAmber);
    EXPECT_TRUE(f.paddingIntact());
    const Image img = f.image();
    if (std::getenv("KIVREL_UPDATE_GOLDEN")) writePng(KIVREL_GOLDEN_DIR "/lines.png", img);
    EXPECT_EQ(hashImage(img), 0x319dd4950cee7ed4ull) << std::hex << hashImage(img);
}
