#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>

#include "modes/vectorscope.h"
#include "params/luma.h"
#include "support/test_host.h"

namespace {

constexpr uint32_t kFill = 0xFFFFB700;     // fills and direct stores keep the opacity byte
constexpr uint32_t kPlotted = 0x00FFB700;  // blended lines and letters drop it
constexpr int32_t kSize = kVectorscopeSize;

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r << 16 | g << 8 | b; }

std::unique_ptr<ScopeInstance> preparedInstance() {
    auto inst = std::make_unique<ScopeInstance>();
    // Leftovers of another display that the preparation must replace.
    inst->lumaOffset = 16;
    for (auto& row : inst->weightTable) std::fill(std::begin(row), std::end(row), 0xA5A5A5A5u);
    OutputGeometry g{720, 480, 2880};
    prepareVectorscope(*inst, g);
    EXPECT_EQ(g.w, kSize);
    EXPECT_EQ(g.h, kSize);
    EXPECT_EQ(g.pitch, 2528);
    return inst;
}

Image noise(int32_t w, int32_t h, uint32_t seed) {
    Image img(w, h);
    for (uint32_t& p : img.px) p = seed = seed * 1664525u + 1013904223u;
    return img;
}

// The renderer called directly on a stored frame of any size.
struct DirectRender {
    Image out;
    bool paddingIntact;
};
DirectRender renderDirect(ScopeInstance& inst, const Image& src, int32_t w, int32_t h, int32_t srcPad = 0) {
    const StoredFrame in(src, srcPad);
    StoredFrame out(w, h, 3, 0x5A5A5A5Au);
    EXPECT_EQ(renderVectorscope(inst, in.constFrame(), out.frame()), 0);
    return {out.image(), out.paddingIntact()};
}

Image renderHosted(const Image& src, int32_t srcPad = 5, ConfigArgs args = defaultArgs(DisplayMode::Vectorscope)) {
    TestHost host;
    TestInstance inst(host);
    inst.config(args);
    inst.setSource(src, srcPad);
    inst.param();
    EXPECT_EQ(inst.run(), 0);
    EXPECT_TRUE(inst.outputPaddingIntact());
    EXPECT_TRUE(inst.sourcePaddingIntact());
    return inst.output();
}

const Image& graticule() {
    static const Image black = renderHosted(Image(1, 1, 0));
    return black;
}

// Reports the first pixel where two pictures of the same size differ.
void expectSamePixels(const Image& out, const Image& expected) {
    ASSERT_EQ(out.w, expected.w);
    ASSERT_EQ(out.h, expected.h);
    const auto [a, b] = std::mismatch(out.px.begin(), out.px.end(), expected.px.begin());
    if (a == out.px.end()) return;
    const auto i = static_cast<int32_t>(a - out.px.begin());
    ADD_FAILURE() << "column " << i % out.w << " row " << i / out.w << ": " << std::hex << *a << " expected " << *b;
}

// `out` is the graticule with one 2x2 dot of `word` whose top-left is (x, y).
void expectGraticuleWithDot(const Image& out, int32_t x, int32_t y, uint32_t word) {
    Image expected = graticule();
    for (int32_t row = y; row < y + 2; ++row)
        for (int32_t col = x; col < x + 2; ++col) expected.at(col, row) = word;
    expectSamePixels(out, expected);
}

// A target box as drawn: its canvas points, plotted one row higher.
struct Point {
    int32_t x, y;
};
using Box = std::array<Point, 4>;
bool insideConvex(const Box& box, Point p) {
    int sign = 0;
    for (size_t i = 0; i < box.size(); ++i) {
        const Point a = box[i], b = box[(i + 1) % box.size()];
        const int64_t cross = int64_t{b.x - a.x} * (p.y - a.y) - int64_t{b.y - a.y} * (p.x - a.x);
        if (cross == 0) continue;
        const int s = cross > 0 ? 1 : -1;
        if (sign != 0 && s != sign) return false;
        sign = s;
    }
    return true;
}

}  // namespace

TEST(VectorscopeTables, TellingValues) {
    const auto inst = preparedInstance();
    EXPECT_EQ(inst->lumaOffset, 0);
    EXPECT_EQ(lumaOf(*inst, rgb(255, 0, 0)), 76);  // Rec. 601, whatever the settings
    struct Mark {
        int k, x, y;
    };
    const Mark marks[] = {{0, 314, 628},  {5, 341, 627},  {30, 471, 586},  {45, 536, 536},
                          {90, 628, 314}, {135, 536, 93}, {180, 314, 1},   {225, 93, 93},
                          {270, 1, 314},  {315, 93, 536}, {355, 288, 627}};
    for (const Mark& m : marks) {
        SCOPED_TRACE("degrees " + std::to_string(m.k));
        EXPECT_EQ(inst->circleX[m.k], m.x);
        EXPECT_EQ(inst->circleY[m.k], m.y);
    }
    // Truncation makes the circle asymmetric: 314 + 222 but 314 - 221.
    EXPECT_EQ(inst->circleX[45] - 314, 222);
    EXPECT_EQ(314 - inst->circleX[225], 221);
    EXPECT_EQ(inst->circleY[0] - 314, 314);
    EXPECT_EQ(314 - inst->circleY[180], 313);

    struct Scale {
        int j, u, v;
    };
    const Scale scales[] = {{0, -250, -447}, {255, 0, 0}, {510, 250, 447}};
    for (const Scale& s : scales) {
        SCOPED_TRACE("index " + std::to_string(s.j));
        EXPECT_EQ(inst->uScale[s.j], s.u);
        EXPECT_EQ(inst->vScale[s.j], s.v);
    }
    // 125 * 0.984 and 250 * 0.984 are exact in double precision: no 122 or 245.
    EXPECT_EQ(inst->uScale[380], 123);
    EXPECT_EQ(inst->uScale[505], 246);
    EXPECT_EQ(inst->uScale[130], -123);
    EXPECT_EQ(inst->uScale[5], -246);
}

TEST(VectorscopeTables, EveryColourLandsInsideTheFrame) {
    // All 2^24 colours through the tables, as the renderer reads them: this is
    // what makes the unclipped dot stores safe on a 632 x 632 frame.
    const auto inst = preparedInstance();
    int32_t minBY = 255, maxBY = -255, minRY = 255, maxRY = -255;
    int32_t minU = 1000, maxU = -1000, minV = 1000, maxV = -1000;
    for (uint32_t px = 0; px < (1u << 24); ++px) {
        const int32_t y = clampedLumaOf(*inst, px);
        const int32_t by = static_cast<int32_t>(blueOf(px)) - y;
        const int32_t ry = static_cast<int32_t>(redOf(px)) - y;
        minBY = std::min(minBY, by);
        maxBY = std::max(maxBY, by);
        minRY = std::min(minRY, ry);
        maxRY = std::max(maxRY, ry);
        const int32_t u = inst->uScale[by + 255], v = inst->vScale[ry + 255];
        minU = std::min(minU, u);
        maxU = std::max(maxU, u);
        minV = std::min(minV, v);
        maxV = std::max(maxV, v);
    }
    EXPECT_EQ(minBY, -225);  // yellow
    EXPECT_EQ(maxBY, 226);   // blue
    EXPECT_EQ(minRY, -178);  // cyan
    EXPECT_EQ(maxRY, 179);   // red
    EXPECT_GE(314 + minU, 0);
    EXPECT_LE(315 + maxU, kSize - 1);
    EXPECT_GE(317 - maxV, 0);
    EXPECT_LE(318 - minV, kSize - 1);
    EXPECT_EQ(317 - maxV, 4);  // full red, just inside the top edge

    // The renderer's own once-per-frame bound must agree with the full count.
    const ChromaReach r = chromaReach(*inst);
    EXPECT_EQ(r.minBlue, minBY);
    EXPECT_EQ(r.maxBlue, maxBY);
    EXPECT_EQ(r.minRed, minRY);
    EXPECT_EQ(r.maxRed, maxRY);
}

TEST(VectorscopeTables, ReachOfForeignLumaRows) {
    auto inst = preparedInstance();
    // A luma stuck at 0 rises nowhere but never falls: each level is its own difference.
    for (auto& row : inst->weightTable) std::fill(std::begin(row), std::end(row), 0u);
    ChromaReach r = chromaReach(*inst);
    EXPECT_EQ(r.minBlue, 0);
    EXPECT_EQ(r.maxBlue, 255);
    EXPECT_EQ(r.minRed, 0);
    EXPECT_EQ(r.maxRed, 255);
    // Signed entries of the hot pixel scan fall and wrap: nothing can be assumed.
    inst->weightTable[1][7] = static_cast<uint32_t>(-4096);
    r = chromaReach(*inst);
    EXPECT_EQ(r.minBlue, -255);
    EXPECT_EQ(r.maxRed, 255);
    std::fill(std::begin(inst->weightTable[1]), std::end(inst->weightTable[1]), 0x80000000u);
    std::fill(std::begin(inst->weightTable[2]), std::end(inst->weightTable[2]), 0x80000000u);
    r = chromaReach(*inst);  // rising, but the sum wraps past 2^32
    EXPECT_EQ(r.maxBlue, 255);
    EXPECT_EQ(r.minRed, -255);
}

TEST(Vectorscope, GraticuleOfABlackFrame) {
    const Image& g = graticule();
    ASSERT_EQ(g.w, kSize);
    ASSERT_EQ(g.h, kSize);
    // Axes are fills: column 313 rows 0..627, row 314 columns 0..627.
    EXPECT_EQ(g.at(313, 0), kFill);
    EXPECT_EQ(g.at(313, 627), kFill);
    EXPECT_EQ(g.at(313, 628), 0u);
    EXPECT_EQ(g.at(0, 314), kFill);
    EXPECT_EQ(g.at(627, 314), kFill);
    EXPECT_EQ(g.at(630, 314), 0u);
    // Circle marks, stored directly: 0 degrees at the bottom, 90 right, 180 top, 270 left.
    for (Point p : {Point{314, 627}, Point{628, 313}, Point{314, 0}, Point{1, 313}}) {
        SCOPED_TRACE(std::to_string(p.x) + "," + std::to_string(p.y));
        EXPECT_EQ(g.at(p.x, p.y), kFill);
        EXPECT_EQ(g.at(p.x + 1, p.y), kFill);
        EXPECT_EQ(g.at(p.x, p.y + 1), kFill);
        EXPECT_EQ(g.at(p.x + 1, p.y + 1), kFill);
    }
    EXPECT_EQ(g.at(314, 629), 0u);
    EXPECT_EQ(g.at(316, 628), 0u);
    // Plotted elements land one row above their y and are blended.
    EXPECT_EQ(g.at(267, 70), kPlotted);   // box 1, vertex (267, 71)
    EXPECT_EQ(g.at(143, 50), kPlotted);   // radius line start (143, 51)
    EXPECT_EQ(g.at(314, 313), kPlotted);  // radius line end at the centre
    for (int32_t x = 246; x < 252; ++x) EXPECT_EQ(g.at(x, 93), kPlotted) << x;  // "R" row 0: FC
    EXPECT_EQ(g.at(252, 93), 0u);
    // The radius line, drawn after the axes, crosses the vertical one just above the centre.
    EXPECT_EQ(g.at(313, 311), kPlotted);
    EXPECT_EQ(g.at(313, 312), kPlotted);
    // 1255 axis pixels less those two, and 72 marks of 4, two pixels of which
    // the horizontal axis covers.
    EXPECT_EQ(std::count(g.px.begin(), g.px.end(), kFill), 1255 - 2 + 72 * 4 - 2);
    for (uint32_t p : g.px) ASSERT_TRUE(p == 0 || p == kFill || p == kPlotted) << std::hex << p;
}

TEST(Vectorscope, GreyFramesGiveOneNeutralDot) {
    // Any grey, any size and any top byte: U = V = 0, the dot at columns
    // 314-315, rows 317-318, off the axes' crossing.
    for (uint32_t word : {0x00000000u, 0x00010101u, 0x00808080u, 0x00FFFFFFu, 0xFF3C3C3Cu, 0x7F040404u}) {
        SCOPED_TRACE(std::to_string(word));
        expectGraticuleWithDot(renderHosted(Image(3, 5, word), 2), 314, 317, word);
    }
}

TEST(Vectorscope, SeventyFivePercentBarsLandInTheirBoxes) {
    struct Bar {
        const char* name;
        uint32_t word;
        int32_t u, v;
        Box box;  // canvas points of its target box
    };
    const Bar bars[] = {
        {"red", rgb(191, 0, 0), -56, 235, {{{267, 71}, {246, 76}, {249, 89}, {269, 84}}}},
        {"green", rgb(0, 191, 0), -110, -196, {{{191, 512}, {209, 522}, {216, 509}, {199, 500}}}},
        {"blue", rgb(0, 0, 191), 167, -36, {{{484, 361}, {487, 346}, {477, 344}, {474, 358}}}},
        {"magenta", rgb(191, 0, 191), 111, 198, {{{437, 116}, {419, 106}, {412, 119}, {429, 128}}}},
        {"cyan", rgb(0, 191, 191), 57, -233, {{{361, 558}, {382, 552}, {378, 539}, {358, 544}}}},
        {"yellow", rgb(191, 191, 0), -166, 38, {{{144, 267}, {141, 282}, {151, 284}, {154, 270}}}},
    };
    const auto inst = preparedInstance();
    EXPECT_EQ(clampedLumaOf(*inst, rgb(191, 0, 0)), 57);
    for (const Bar& b : bars) {
        SCOPED_TRACE(b.name);
        const int32_t y = clampedLumaOf(*inst, b.word);
        EXPECT_EQ(inst->uScale[static_cast<int32_t>(blueOf(b.word)) - y + 255], b.u);
        EXPECT_EQ(inst->vScale[static_cast<int32_t>(redOf(b.word)) - y + 255], b.v);
        const int32_t x0 = 314 + b.u, y0 = 317 - b.v;
        expectGraticuleWithDot(renderHosted(Image(2, 2, b.word)), x0, y0, b.word);
        Box drawn = b.box;
        for (Point& p : drawn) p.y -= 1;
        for (Point p : {Point{x0, y0}, Point{x0 + 1, y0}, Point{x0, y0 + 1}, Point{x0 + 1, y0 + 1}})
            EXPECT_TRUE(insideConvex(drawn, p)) << p.x << "," << p.y;
    }
}

TEST(Vectorscope, FullRedJustInsideTheTopEdge) {
    // Y = 76, U = -74, V = 313: rows 4-5.
    expectGraticuleWithDot(renderHosted(Image(1, 1, rgb(255, 0, 0))), 240, 4, rgb(255, 0, 0));
}

TEST(Vectorscope, DotsKeepTheWordAndFollowStorageOrder) {
    // The top byte stays. Two pixels on the same dot: the later one in storage
    // order (bottom row first, left to right) wins.
    Image src(2, 2);
    src.at(0, 1) = 0x11808080;  // stored first
    src.at(1, 1) = 0x22404040;
    src.at(0, 0) = 0x33BF0000;  // 75 % red
    src.at(1, 0) = 0x44202020;  // stored last
    const Image out = renderHosted(src, 1);
    EXPECT_EQ(out.at(314, 317), 0x44202020u);
    EXPECT_EQ(out.at(315, 318), 0x44202020u);
    EXPECT_EQ(out.at(258, 82), 0x33BF0000u);
    EXPECT_EQ(out.at(259, 83), 0x33BF0000u);
    src.at(1, 0) = 0x5580FF80;  // pale green elsewhere: the row above now wins the centre
    EXPECT_EQ(renderHosted(src, 1).at(314, 317), 0x22404040u);
}

TEST(Vectorscope, AnySourceShapeGivesTheSameGraticule) {
    struct Shape {
        int32_t w, h, pad;
    };
    const Shape shapes[] = {{1, 1, 0}, {1, 1, 7}, {3, 1, 1}, {1, 300, 2}, {333, 2, 0}, {720, 480, 3}, {0, 4, 2}, {4, 0, 1}};
    const uint64_t expected = hashImage(graticule());
    for (const Shape& s : shapes) {
        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h) + " pad " + std::to_string(s.pad));
        EXPECT_EQ(hashImage(renderHosted(Image(s.w, s.h, 0), s.pad)), expected);
    }
    // The luma settings do not reach this display.
    ConfigArgs args = defaultArgs(DisplayMode::Vectorscope);
    for (int rng255 : {0, 1}) {
        for (int stdDef : {0, 1}) {
            SCOPED_TRACE("rng255 " + std::to_string(rng255) + " stdDef " + std::to_string(stdDef));
            args[5] = stdDef;
            args[6] = rng255;
            expectGraticuleWithDot(renderHosted(Image(5, 3, rgb(255, 0, 0)), 1, args), 240, 4, rgb(255, 0, 0));
        }
    }
}

TEST(Vectorscope, NoisyOddFramesStayInsideTheirBuffers) {
    const auto inst = preparedInstance();
    for (auto [w, h, pad] : {std::tuple{1, 1, 0}, std::tuple{7, 5, 3}, std::tuple{33, 1, 1}, std::tuple{1, 41, 0}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " pad " + std::to_string(pad));
        const DirectRender r = renderDirect(*inst, noise(w, h, static_cast<uint32_t>(w * 131 + h)), kSize, kSize, pad);
        EXPECT_TRUE(r.paddingIntact);
    }
}

TEST(Vectorscope, OtherFrameSizesAreClippedLikeTheFullFrame) {
    // A script may change the mode after the parameter stage: the output then
    // keeps another display's size. Whatever fits must match the full frame;
    // nothing may land outside.
    auto inst = preparedInstance();
    const Image src = noise(64, 48, 5);
    const Image full = renderDirect(*inst, src, kSize, kSize).out;
    struct Size {
        int32_t w, h;
    };
    for (Size s : {Size{400, 300}, Size{100, 80}, Size{631, 632}, Size{632, 631}, Size{1, 1}, Size{0, 632},
                   Size{632, 0}, Size{700, 650}}) {
        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
        const DirectRender r = renderDirect(*inst, src, s.w, s.h);
        EXPECT_TRUE(r.paddingIntact);
        Image expected(s.w, s.h);
        for (int32_t y = 0; y < std::min(s.h, kSize); ++y)
            for (int32_t x = 0; x < std::min(s.w, kSize); ++x) expected.at(x, y) = full.at(x, y);
        // A crop's last row misses plots aimed one row below the frame.
        if (s.h > 0 && s.h < kSize)
            for (int32_t x = 0; x < s.w; ++x) expected.at(x, s.h - 1) = r.out.at(x, s.h - 1);
        expectSamePixels(r.out, expected);
    }
}

TEST(Vectorscope, ForeignTablesNeverWriteOutside) {
    // Luma rows of another display put dots beyond the frame (R - Y up to 255
    // gives V = 447): even on a frame larger than 632 x 632 they are clipped.
    auto inst = preparedInstance();
    for (auto& row : inst->weightTable) std::fill(std::begin(row), std::end(row), 0u);
    DirectRender r = renderDirect(*inst, noise(50, 40, 9), 700, 700);
    EXPECT_TRUE(r.paddingIntact);
    // A pure blue pixel still has its dot: B - Y = 255 gives U = 250, V = 0.
    r = renderDirect(*inst, Image(1, 1, rgb(0, 0, 255)), 700, 700);
    EXPECT_EQ(r.out.at(564, 317), rgb(0, 0, 255));
    EXPECT_EQ(r.out.at(565, 318), rgb(0, 0, 255));

    // Through the host: tables never built for this display (the test host
    // fills a new record with 0xA5), then a video-sized output.
    TestHost host;
    for (DisplayMode first : {DisplayMode::Video, DisplayMode::HotPixel, DisplayMode::Waveform}) {
        SCOPED_TRACE(static_cast<int>(first));
        TestInstance ti(host);
        ti.config(defaultArgs(first));
        ti.setSource(noise(120, 90, 3), 2);
        ti.param();
        ti.config(defaultArgs(DisplayMode::Vectorscope));
        EXPECT_EQ(ti.run(), 0);
        EXPECT_TRUE(ti.outputPaddingIntact());
        EXPECT_TRUE(ti.sourcePaddingIntact());
    }
}

TEST(Vectorscope, GoldenTestCard) {
    const Image out = renderHosted(testCard());
    if (std::getenv("KIVREL_UPDATE_GOLDEN")) writePng(KIVREL_GOLDEN_DIR "/vectorscope.png", out);
    EXPECT_EQ(hashImage(out), 0xc6e2333c6acaaa4cull) << std::hex << hashImage(out);
}
