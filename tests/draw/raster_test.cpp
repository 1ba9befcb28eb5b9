#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "draw/raster.h"
#include "support/image.h"

namespace {

constexpr uint32_t kAmber = kGraticuleColour;
constexpr uint32_t kPlottedAmber = 0x00FFB700;  // a plot stores the blend with a top byte of 0
constexpr int32_t kPad = 3;                     // padding words per row, holding kSentinel

// A recognisable picture, so that a write to the wrong pixel shows.
Image pattern(int32_t w, int32_t h) {
    Image img(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) img.at(x, y) = 0x5A000000u | static_cast<uint32_t>(y << 12 | x);
    return img;
}

using Point = std::pair<int64_t, int64_t>;

// The canvas pixels that differ between two pictures.
std::set<Point> changed(const Image& before, const Image& after) {
    std::set<Point> out;
    for (int32_t y = 0; y < before.h; ++y)
        for (int32_t x = 0; x < before.w; ++x)
            if (before.at(x, y) != after.at(x, y)) out.insert({x, y});
    return out;
}

// Points handed to plotPixel, as the changed canvas pixels show them: a plot
// at (x, y) changes canvas pixel (x, y - 1).
std::set<Point> plottedPoints(const Image& before, const Image& after) {
    std::set<Point> out;
    for (const Point& p : changed(before, after)) out.insert({p.first, p.second + 1});
    return out;
}

std::set<Point> linePoints(int32_t w, int32_t h, int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    StoredFrame f(w, h, kPad);
    const Image before = f.image();
    drawLine(f.frame(), x1, y1, x2, y2, kAmber);
    EXPECT_TRUE(f.paddingIntact());
    return plottedPoints(before, f.image());
}

// The textbook loop, one step per point, in 64 bits; keeps the points a plot
// can show (0 <= x < w, 1 <= y < h).
std::set<Point> naiveLine(int32_t w, int32_t h, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
    const int64_t dx = std::llabs(x2 - x1), dy = std::llabs(y2 - y1);
    const int64_t sx = x1 > x2 ? -1 : 1, sy = y1 > y2 ? -1 : 1;
    const bool xMajor = dx >= dy;
    const int64_t major = xMajor ? dx : dy, minor = xMajor ? dy : dx;
    int64_t d = 2 * minor - major, x = x1, y = y1;
    std::set<Point> out;
    for (int64_t i = 0; i <= major; ++i) {
        if (x >= 0 && x < w && y >= 1 && y < h) out.insert({x, y});
        if (d < 0) {
            d += 2 * minor;
            (xMajor ? x : y) += xMajor ? sx : sy;
        } else {
            d += 2 * (minor - major);
            x += sx;
            y += sy;
        }
    }
    return out;
}

std::string str(const std::set<Point>& pts) {
    std::ostringstream s;
    for (const Point& p : pts) s << "(" << p.first << "," << p.second << ")";
    return s.str();
}

struct Rect {
    int32_t x0, y0, x1, y1;  // inclusive canvas corners; x1 < x0 when empty
};
constexpr Rect kNothing{0, 0, -1, -1};

}  // namespace

TEST(FillRect, ClipsAndStoresTheWordUnblended) {
    constexpr int32_t w = 120, h = 40;
    struct Case {
        int32_t x, y, width, height;
        Rect expected;
    };
    const Case cases[] = {
        {0, 0, -1, -1, {0, 0, w - 1, h - 1}},
        {-5, 10, 20, 3, {0, 10, 14, 12}},
        {100, 0, -1, 1, {100, 0, w - 1, 0}},  // width becomes w, then w - 100
        {-5, 0, -1, 1, {0, 0, w - 6, 0}},     // -1 is replaced before clipping
        {0, 3, 2, -1, {0, 3, 1, h - 1}},
        {7, 8, 1, 1, {7, 8, 7, 8}},
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
    for (const Case& c : cases) {
        for (uint32_t colour : {kAmber, kClearColour, 0x12345678u}) {
            std::ostringstream trace;
            trace << "fillRect(" << c.x << ", " << c.y << ", " << c.width << ", " << c.height
                  << ") colour " << std::hex << colour;
            SCOPED_TRACE(trace.str());
            StoredFrame f(pattern(w, h), kPad);
            const Image before = f.image();
            fillRect(f.frame(), c.x, c.y, c.width, c.height, colour);
            const Image after = f.image();
            for (int32_t y = 0; y < h; ++y) {
                for (int32_t x = 0; x < w; ++x) {
                    const bool inside = x >= c.expected.x0 && x <= c.expected.x1 &&
                                        y >= c.expected.y0 && y <= c.expected.y1;
                    ASSERT_EQ(after.at(x, y), inside ? colour : before.at(x, y))
                        << "at (" << x << ", " << y << ")";
                }
            }
            EXPECT_TRUE(f.paddingIntact());
        }
    }
}

TEST(FillRect, AddressesStoredRowsBottomUp) {
    // The vectorscope's vertical axis: column 313 of canvas rows 0 to 627 is
    // stored rows 4 to 631 of a 632-row frame.
    StoredFrame f(632, 632, kPad);
    fillRect(f.frame(), 313, 0, 1, 628, kAmber);
    const Frame fr = f.frame();
    for (int32_t k = 0; k < 632; ++k) {
        for (int32_t x = 312; x <= 314; ++x) {
            const uint32_t expected = (x == 313 && k >= 4) ? kAmber : 0;
            ASSERT_EQ(fr.storedRow(k)[x], expected) << "stored row " << k << " column " << x;
        }
    }
    EXPECT_TRUE(f.paddingIntact());
}

TEST(FillRect, TinyAndEmptyFrames) {
    StoredFrame one(1, 1, kPad, 0x11111111);
    fillRect(one.frame(), 0, 0, -1, -1, kAmber);
    EXPECT_EQ(one.image().at(0, 0), kAmber);
    fillRect(one.frame(), -1, -1, 3, 3, 0x22222222);
    EXPECT_EQ(one.image().at(0, 0), 0x22222222u);
    fillRect(one.frame(), 1, 0, 1, 1, kAmber);
    EXPECT_EQ(one.image().at(0, 0), 0x22222222u);
    EXPECT_TRUE(one.paddingIntact());

    StoredFrame empty(0, 0, kPad);
    fillRect(empty.frame(), 0, 0, -1, -1, kAmber);  // nothing to write, nothing written
    EXPECT_EQ(empty.data()[0], kSentinel);
}

TEST(BlendPixel, KnownValues) {
    struct Case {
        uint32_t old, colour, expected;
        const char* why;
    };
    const Case cases[] = {
        {0x00000000, 0xFFFFB700, 0x00FFB700, "opaque: the colour, top byte 0"},
        {0xFF102030, 0xFFFFB700, 0x00FFB700, "opaque over anything"},
        {0x12345678, 0x00FFFFFF, 0x12345678, "opacity 0 keeps the word, top byte included"},
        {0x00000000, 0x80FFFFFF, 0x00808080, "128/255 of 255 up"},
        {0x00FFFFFF, 0x80000000, 0x007F7F7F, "truncation toward zero: one less going down"},
        {0x00404040, 0x40FFFFFF, 0x006F6F6F, "64 + trunc(191 * 64/255)"},
        {0x00000000, 0x21FFFFFF, 0x00202020, "33 * (1/255) * 255 falls just below 33"},
        {0x00000000, 0x01FFFFFF, 0x00010101, "(1/255) * 255 is exactly 1"},
        {0x00FF0000, 0x800000FF, 0x007F0080, "channels blend independently"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(blendPixel(c.old, c.colour), c.expected)
            << c.why << ": old " << std::hex << c.old << " colour " << c.colour;
    }
}

TEST(BlendPixel, StaysBetweenOldAndColour) {
    for (uint32_t a = 0; a < 256; ++a) {
        for (uint32_t o = 0; o < 256; o += 5) {
            for (uint32_t c = 0; c < 256; c += 3) {
                const uint32_t old = 0xAB000000u | o << 16 | (255 - o) << 8 | o;
                const uint32_t colour = a << 24 | (255 - c) << 16 | c << 8 | c;
                const uint32_t n = blendPixel(old, colour);
                if (a == 0) {
                    ASSERT_EQ(n, old);
                    continue;
                }
                ASSERT_EQ(n >> 24, 0u) << "opacity " << a;
                for (int shift : {0, 8, 16}) {
                    const uint32_t ov = (old >> shift) & 0xFF, cv = (colour >> shift) & 0xFF;
                    const uint32_t nv = (n >> shift) & 0xFF;
                    ASSERT_GE(nv, std::min(ov, cv)) << "opacity " << a << " old " << ov << " colour " << cv;
                    ASSERT_LE(nv, std::max(ov, cv)) << "opacity " << a << " old " << ov << " colour " << cv;
                    if (a == 255) ASSERT_EQ(nv, cv);
                }
            }
        }
    }
}

TEST(PlotPixel, LandsOneRowAboveAndBlends) {
    constexpr int32_t w = 6, h = 5;
    StoredFrame f(w, h, kPad);
    const Frame fr = f.frame();
    plotPixel(fr, 0, 1, kAmber);
    EXPECT_EQ(fr.storedRow(h - 1)[0], kPlottedAmber) << "y = 1 is the top-left pixel, the last stored row";
    plotPixel(fr, 2, h - 1, kAmber);
    EXPECT_EQ(fr.storedRow(1)[2], kPlottedAmber) << "y = h - 1 is the second stored row";
    Image expected(w, h);
    expected.at(0, 0) = kPlottedAmber;
    expected.at(2, h - 2) = kPlottedAmber;
    EXPECT_EQ(changed(Image(w, h), f.image()), changed(Image(w, h), expected));

    // Outside the visible range: nothing changes.
    const Image before = f.image();
    for (auto [x, y] : std::vector<std::pair<int32_t, int32_t>>{
             {0, 0}, {w, 5}, {-1, 3}, {0, h}, {INT_MIN, 1}, {INT_MAX, 1}, {0, INT_MIN}, {0, INT_MAX}}) {
        plotPixel(fr, x, y, kAmber);
        EXPECT_EQ(changed(before, f.image()).size(), 0u) << "plot at (" << x << ", " << y << ")";
    }
    // The bottom canvas row is never reached by a plot.
    for (int32_t x = 0; x < w; ++x) EXPECT_EQ(f.image().at(x, h - 1), 0u);
    EXPECT_TRUE(f.paddingIntact());
}

TEST(PlotPixel, FillKeepsTheTopBytePlotClearsIt) {
    StoredFrame f(3, 3, kPad, 0x7F000000);
    fillRect(f.frame(), 0, 0, 1, 1, kAmber);
    plotPixel(f.frame(), 1, 1, kAmber);
    plotPixel(f.frame(), 2, 1, 0x00FFFFFF);  // opacity 0: the word stays, top byte included
    const Image img = f.image();
    EXPECT_EQ(img.at(0, 0), 0xFFFFB700u);
    EXPECT_EQ(img.at(1, 0), 0x00FFB700u);
    EXPECT_EQ(img.at(2, 0), 0x7F000000u);
}

TEST(PlotPixel, OneByOneFrameShowsNoPlot) {
    StoredFrame f(1, 1, kPad, 0x01020304);
    for (int32_t y = -1; y <= 2; ++y) plotPixel(f.frame(), 0, y, kAmber);
    drawLine(f.frame(), -3, -3, 3, 3, kAmber);
    drawLine(f.frame(), 0, INT_MIN, 0, INT_MAX, kAmber);
    EXPECT_EQ(f.image().at(0, 0), 0x01020304u);
    EXPECT_TRUE(f.paddingIntact());
}

TEST(DrawLine, BresenhamPointSequences) {
    struct Case {
        int32_t x1, y1, x2, y2;
        std::set<Point> expected;
    };
    const Case cases[] = {
        {0, 1, 5, 3, {{0, 1}, {1, 1}, {2, 2}, {3, 2}, {4, 3}, {5, 3}}},
        {0, 1, 2, 2, {{0, 1}, {1, 2}, {2, 2}}},  // d = 0 takes the diagonal step
        {2, 2, 0, 1, {{2, 2}, {1, 1}, {0, 1}}},  // the other way round is not the same line
        {0, 1, 4, 5, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}}},
        {3, 3, 3, 3, {{3, 3}}},
        {1, 1, 1, 4, {{1, 1}, {1, 2}, {1, 3}, {1, 4}}},
        {2, 1, 0, 7, {{2, 1}, {2, 2}, {1, 3}, {1, 4}, {1, 5}, {0, 6}, {0, 7}}},  // y-major, x falling
        // From inside the frame to outside: the inside points of the same line.
        {5, 5, 20, 8, {{5, 5}, {6, 5}, {7, 5}, {8, 6}, {9, 6}, {10, 6}, {11, 6}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("drawLine(" + std::to_string(c.x1) + ", " + std::to_string(c.y1) + ", " +
                     std::to_string(c.x2) + ", " + std::to_string(c.y2) + ")");
        const std::set<Point> got = linePoints(12, 9, c.x1, c.y1, c.x2, c.y2);
        EXPECT_EQ(got, c.expected) << "got " << str(got) << " expected " << str(c.expected);
        EXPECT_EQ(got, naiveLine(12, 9, c.x1, c.y1, c.x2, c.y2));
    }
}

TEST(DrawLine, MatchesTheStepByStepLoopOnRandomLines) {
    // Short lines around and across the frame, and long ones from far away
    // whose walk the drawing shortens to the stretch inside the frame.
    uint64_t seed = 12345;
    auto next = [&seed](int64_t lo, int64_t hi) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return lo + static_cast<int64_t>((seed >> 33) % static_cast<uint64_t>(hi - lo + 1));
    };
    struct Range {
        int64_t lo, hi;
        int count;
    };
    for (const Range& r : {Range{-30, 60, 3000}, Range{-3000, 3000, 300}, Range{-2000000, 2000000, 20}}) {
        for (int i = 0; i < r.count; ++i) {
            const int32_t w = static_cast<int32_t>(next(1, 40)), h = static_cast<int32_t>(next(1, 30));
            auto coord = [&] { return static_cast<int32_t>(next(r.lo, r.hi)); };
            int32_t x1 = coord(), y1 = coord(), x2 = coord(), y2 = coord();
            if (i % 2) {
                // Through the frame: the far end mirrored about a point inside it.
                const auto px = static_cast<int32_t>(next(0, w - 1)), py = static_cast<int32_t>(next(0, h - 1));
                x2 = 2 * px - x1;
                y2 = 2 * py - y1;
            }
            const std::set<Point> got = linePoints(w, h, x1, y1, x2, y2);
            const std::set<Point> want = naiveLine(w, h, x1, y1, x2, y2);
            ASSERT_EQ(got, want) << "frame " << w << "x" << h << " line (" << x1 << ", " << y1
                                 << ") to (" << x2 << ", " << y2 << "): got " << str(got)
                                 << " expected " << str(want);
        }
    }
}

TEST(DrawLine, ExtremeEndpoints) {
    constexpr int32_t w = 9, h = 7;
    auto row = [&](int32_t y, int32_t x0, int32_t x1) {
        std::set<Point> pts;
        for (int32_t x = x0; x <= x1; ++x) pts.insert({x, y});
        return pts;
    };
    std::set<Point> diagonal;
    for (int32_t t = 1; t < h; ++t) diagonal.insert({t, t});
    std::set<Point> column;
    for (int32_t y = 1; y < h; ++y) column.insert({4, y});
    struct Case {
        int32_t x1, y1, x2, y2;
        std::set<Point> expected;
    };
    const Case cases[] = {
        {INT_MIN, 5, INT_MAX, 5, row(5, 0, w - 1)},
        {INT_MAX, 5, INT_MIN, 5, row(5, 0, w - 1)},
        {INT_MIN, INT_MIN, INT_MAX, INT_MAX, diagonal},  // a tie: every step is diagonal
        {INT_MAX, INT_MAX, INT_MIN, INT_MIN, diagonal},
        {4, INT_MIN, 4, INT_MAX, column},
        {4, INT_MAX, 4, INT_MIN, column},
        // y = -1 - x: never inside.
        {INT_MIN, INT_MAX, INT_MAX, INT_MIN, {}},
        // Slope 3 / (2^32 - 1) from x = INT_MIN: at x = t >= 0 the walk has
        // taken 2^31 + t steps, k = floor((6 (2^31 + t) + M) / 2M) = 2 while t is small.
        {INT_MIN, 0, INT_MAX, 3, row(2, 0, w - 1)},
        {0, 3, INT_MAX, 3, row(3, 0, w - 1)},
        {2, 2, INT_MIN, 2, row(2, 0, 2)},
        {INT_MIN, INT_MIN, INT_MIN, INT_MAX, {}},
        {INT_MAX, INT_MIN, INT_MIN + 1, INT_MIN, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("drawLine(" + std::to_string(c.x1) + ", " + std::to_string(c.y1) + ", " +
                     std::to_string(c.x2) + ", " + std::to_string(c.y2) + ")");
        const std::set<Point> got = linePoints(w, h, c.x1, c.y1, c.x2, c.y2);
        EXPECT_EQ(got, c.expected) << "got " << str(got);
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
    drawLine(fr, 0, 1, 159, 1, kAmber);
    drawLine(fr, 0, 119, 159, 119, kAmber);
    drawLine(fr, 0, 1, 0, 119, kAmber);
    drawLine(fr, 159, 1, 159, 119, kAmber);
    EXPECT_TRUE(f.paddingIntact());
    const Image img = f.image();
    if (std::getenv("KIVREL_UPDATE_GOLDEN")) writePng(KIVREL_GOLDEN_DIR "/lines.png", img);
    EXPECT_EQ(hashImage(img), 0x319dd4950cee7ed4ull) << std::hex << hashImage(img);
}
