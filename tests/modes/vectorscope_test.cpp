#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include "modes/vectorscope.h"
#include "params/luma.h"
#include "support/simd_cases.h"
#include "support/test_host.h"

namespace {

constexpr uint32_t kFill = 0xFFFFB700;     // fills and direct stores keep the opacity byte
constexpr uint32_t kPlotted = 0x00FFB700;  // blended lines and letters drop it
constexpr int32_t kSize = kVectorscopeSize;

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r << 16 | g << 8 | b; }

// Tables prepared over leftovers of another display, which they must replace.
std::unique_ptr<ScopeInstance> preparedInstance() {
    auto inst = std::make_unique<ScopeInstance>();
    inst->lumaOffset = 16;
    for (auto& row : inst->weightTable) std::fill(std::begin(row), std::end(row), 0xA5A5A5A5u);
    OutputGeometry g{720, 480, 2880};
    prepareVectorscope(*inst, g);
    EXPECT_EQ(std::tuple(g.w, g.h, g.pitch), std::tuple(kSize, kSize, ptrdiff_t{2528}));
    return inst;
}

Image noise(int32_t w, int32_t h, uint32_t seed) {
    Image img(w, h);
    for (uint32_t& p : img.px) p = seed = seed * 1664525u + 1013904223u;
    return img;
}

// The renderer called directly on a dst of any size, sentinels checked.
Image renderDirect(ScopeInstance& inst, const Image& src, int32_t w, int32_t h, int32_t srcPad = 0) {
    const StoredFrame in(src, srcPad);
    StoredFrame out(w, h, 3, 0x5A5A5A5Au);
    EXPECT_EQ(renderVectorscope(inst, in.constFrame(), out.frame(), machineSimdLevel()), 0);
    EXPECT_TRUE(out.paddingIntact() && in.paddingIntact());
    return out.image();
}

// Through the host, with the parameter stage run for `stage` (a script may switch the mode after it).
Image renderHosted(const Image& src, int32_t srcPad = 5,
                   ConfigArgs args = defaultArgs(DisplayMode::Vectorscope),
                   DisplayMode stage = DisplayMode::Vectorscope) {
    TestHost host;
    TestInstance inst(host);
    inst.config(stage == DisplayMode::Vectorscope ? args : defaultArgs(stage));
    inst.setSource(src, srcPad);
    inst.param();
    inst.config(args);
    EXPECT_EQ(inst.run(), 0);
    EXPECT_TRUE(inst.outputPaddingIntact() && inst.sourcePaddingIntact());
    return inst.output();
}

const Image& graticule() {
    static const Image black = renderHosted(Image(1, 1, 0));
    return black;
}

void expectSamePixels(const Image& out, const Image& want) {
    ASSERT_EQ(std::pair(out.w, out.h), std::pair(want.w, want.h));
    const auto [a, b] = std::mismatch(out.px.begin(), out.px.end(), want.px.begin());
    const auto i = a - out.px.begin();
    EXPECT_TRUE(a == out.px.end()) << "column " << i % out.w << " row " << i / out.w << ": " << std::hex << *a
                                   << " expected " << *b;
}

// `out` is the graticule with one 2x2 dot of `word` whose top-left is (x, y).
void expectGraticuleWithDot(const Image& out, int32_t x, int32_t y, uint32_t word) {
    Image want = graticule();
    for (int i = 0; i < 4; ++i) want.at(x + i % 2, y + i / 2) = word;
    expectSamePixels(out, want);
}

struct Point {
    int32_t x, y;
};
using Box = std::array<Point, 4>;  // canvas points of a convex target box, in order

// Inside or on the edge: p is on no edge's outer side.
bool insideBox(const Box& box, Point p) {
    bool left = false, right = false;
    for (size_t i = 0; i < box.size(); ++i) {
        const Point a = box[i], b = box[(i + 1) % box.size()];
        const int64_t cross = int64_t{b.x - a.x} * (p.y - a.y) - int64_t{b.y - a.y} * (p.x - a.x);
        left |= cross > 0, right |= cross < 0;
    }
    return !(left && right);
}

}  // namespace

TEST(VectorscopeTables, TellingValues) {
    const auto inst = preparedInstance();
    EXPECT_EQ(inst->lumaOffset, 0);
    EXPECT_EQ(lumaOf(*inst, rgb(255, 0, 0)), 76);  // Rec. 601, whatever the settings
    // Truncation makes the circle asymmetric: 314 + 222 at 45 degrees but
    // 314 - 221 at 225, 314 + 314 at 0 but 314 - 313 at 180.
    const int32_t marks[][3] = {{0, 314, 628},  {5, 341, 627},  {30, 471, 586}, {45, 536, 536},
                                {90, 628, 314}, {135, 536, 93}, {180, 314, 1},  {225, 93, 93},
                                {270, 1, 314},  {315, 93, 536}, {355, 288, 627}};
    for (const auto& [k, x, y] : marks)
        EXPECT_EQ(std::pair(inst->circleX[k], inst->circleY[k]), std::pair(x, y)) << "degrees " << k;
    // 125 * 0.984 and 250 * 0.984 are exact in double precision: 123 and 246, no 122 or 245.
    const int32_t scales[][3] = {{0, -250, -447}, {255, 0, 0},       {510, 250, 447}, {380, 123, 219},
                                 {505, 246, 438}, {130, -123, -219}, {5, -246, -438}};
    for (const auto& [j, u, v] : scales)
        EXPECT_EQ(std::pair(inst->uScale[j], inst->vScale[j]), std::pair(u, v)) << "index " << j;
}

TEST(VectorscopeTables, EveryColourLandsInsideTheFrame) {
    // All 2^24 colours through the tables, as the renderer reads them: this is
    // what makes the unclipped dot stores safe on a 632 x 632 frame.
    const auto inst = preparedInstance();
    int32_t lo[4] = {255, 255, 1000, 1000}, hi[4] = {-255, -255, -1000, -1000};  // B - Y, R - Y, U, V
    for (uint32_t px = 0; px < (1u << 24); ++px) {
        const int32_t y = clampedLumaOf(*inst, px);
        const int32_t by = static_cast<int32_t>(blueOf(px)) - y, ry = static_cast<int32_t>(redOf(px)) - y;
        const int32_t seen[4] = {by, ry, inst->uScale[by + 255], inst->vScale[ry + 255]};
        for (int i = 0; i < 4; ++i) lo[i] = std::min(lo[i], seen[i]), hi[i] = std::max(hi[i], seen[i]);
    }
    EXPECT_EQ(std::pair(lo[0], hi[0]), std::pair(-225, 226));  // yellow, blue
    EXPECT_EQ(std::pair(lo[1], hi[1]), std::pair(-178, 179));  // cyan, red
    // Dots cover columns 314 + U .. 315 + U and rows 317 - V .. 318 - V.
    EXPECT_TRUE(314 + lo[2] >= 0 && 315 + hi[2] < kSize && 318 - lo[3] < kSize)
        << lo[2] << " " << hi[2] << " " << lo[3];
    EXPECT_EQ(317 - hi[3], 4);  // full red, just inside the top edge
    // The renderer's own once-per-frame bound must agree with the full count.
    const ChromaReach r = chromaReach(*inst);
    EXPECT_EQ(std::tuple(r.minBlue, r.maxBlue, r.minRed, r.maxRed), std::tuple(lo[0], hi[0], lo[1], hi[1]));
}

TEST(Vectorscope, GraticuleIsTheSameForAnySource) {
    const Image& g = graticule();
    ASSERT_EQ(std::pair(g.w, g.h), std::pair(kSize, kSize));
    // Axes are fills: column 313 rows 0..627, row 314 columns 0..627. Circle marks are stored
    // 2x2 blocks: 0 degrees at the bottom, 90 right, 180 top, 270 left. Plotted elements are
    // blended and land one row above their y: box 1's vertex (267, 71), the radius line from
    // (143, 51) to the centre, crossing the vertical axis just above it, and "R" row 0 (FC).
    const std::tuple<int32_t, int32_t, uint32_t> pixels[] = {
        {313, 0, kFill},      {313, 627, kFill},   {313, 628, 0},        {0, 314, kFill},
        {627, 314, kFill},    {630, 314, 0},       {314, 627, kFill},    {315, 628, kFill},
        {628, 313, kFill},    {629, 314, kFill},   {314, 0, kFill},      {315, 1, kFill},
        {1, 313, kFill},      {2, 314, kFill},     {314, 629, 0},        {316, 628, 0},
        {267, 70, kPlotted},  {143, 50, kPlotted}, {314, 313, kPlotted}, {313, 311, kPlotted},
        {313, 312, kPlotted}, {246, 93, kPlotted}, {251, 93, kPlotted},  {252, 93, 0}};
    for (const auto& [x, y, want] : pixels) EXPECT_EQ(g.at(x, y), want) << x << "," << y;
    // 1255 axis pixels less those two, and 72 marks of 4, two pixels of which the horizontal axis covers.
    EXPECT_EQ(std::count(g.px.begin(), g.px.end(), kFill), 1255 - 2 + 72 * 4 - 2);
    for (uint32_t p : g.px) ASSERT_TRUE(p == 0 || p == kFill || p == kPlotted) << std::hex << p;
    for (auto [w, h, pad] : {std::array{1, 1, 0},
                             {1, 1, 7},
                             {3, 1, 1},
                             {1, 300, 2},
                             {333, 2, 0},
                             {720, 480, 3},
                             {0, 4, 2},
                             {4, 0, 1}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " pad " + std::to_string(pad));
        EXPECT_EQ(hashImage(renderHosted(Image(w, h, 0), pad)), hashImage(g));
    }
}

TEST(Vectorscope, ColoursGiveOneDotWhereTheTablesPutIt) {
    // Any grey, any size and any top byte: U = V = 0, the dot at columns
    // 314-315, rows 317-318, off the axes' crossing.
    for (uint32_t word : {0x00000000u, 0x00010101u, 0x00808080u, 0x00FFFFFFu, 0xFF3C3C3Cu, 0x7F040404u}) {
        SCOPED_TRACE(std::to_string(word));
        expectGraticuleWithDot(renderHosted(Image(3, 5, word), 2), 314, 317, word);
    }
    // Full red (Y = 76, U = -74, V = 313) at rows 4-5, whatever the luma settings.
    for (int settings = 0; settings < 4; ++settings) {
        SCOPED_TRACE(settings);
        ConfigArgs args = defaultArgs(DisplayMode::Vectorscope);
        args[5] = settings & 1, args[6] = settings >> 1;  // stdDef, rng255
        expectGraticuleWithDot(renderHosted(Image(5, 3, rgb(255, 0, 0)), 1, args), 240, 4, rgb(255, 0, 0));
    }
    // The top byte stays. Of two pixels on one dot the later one in storage
    // order (bottom row first, left to right) wins.
    Image src(2, 2);
    src.px = {0x33BF0000, 0x44202020, 0x11808080, 0x22404040};  // 75 % red and three greys
    const Image out = renderHosted(src, 1);
    EXPECT_EQ(std::pair(out.at(314, 317), out.at(315, 318)), std::pair(0x44202020u, 0x44202020u));
    EXPECT_EQ(std::pair(out.at(258, 82), out.at(259, 83)), std::pair(0x33BF0000u, 0x33BF0000u));
    src.at(1, 0) = 0x5580FF80;  // pale green elsewhere: the row above now wins the centre
    EXPECT_EQ(renderHosted(src, 1).at(314, 317), 0x22404040u);
}

TEST(Vectorscope, SeventyFivePercentBarsLandInTheirBoxes) {
    const struct {
        uint32_t word;
        int32_t u, v;
        Box box;
    } bars[] = {
        {rgb(191, 0, 0), -56, 235, {{{267, 71}, {246, 76}, {249, 89}, {269, 84}}}},        // red
        {rgb(0, 191, 0), -110, -196, {{{191, 512}, {209, 522}, {216, 509}, {199, 500}}}},  // green
        {rgb(0, 0, 191), 167, -36, {{{484, 361}, {487, 346}, {477, 344}, {474, 358}}}},    // blue
        {rgb(191, 0, 191), 111, 198, {{{437, 116}, {419, 106}, {412, 119}, {429, 128}}}},  // magenta
        {rgb(0, 191, 191), 57, -233, {{{361, 558}, {382, 552}, {378, 539}, {358, 544}}}},  // cyan
        {rgb(191, 191, 0), -166, 38, {{{144, 267}, {141, 282}, {151, 284}, {154, 270}}}},  // yellow
    };
    for (const auto& b : bars) {
        SCOPED_TRACE(std::to_string(b.word));
        const int32_t x0 = 314 + b.u, y0 = 317 - b.v;
        expectGraticuleWithDot(renderHosted(Image(2, 2, b.word)), x0, y0, b.word);
        // The box is plotted one row above its canvas points.
        for (int i = 0; i < 4; ++i) EXPECT_TRUE(insideBox(b.box, {x0 + i % 2, y0 + i / 2 + 1})) << i;
    }
}

TEST(Vectorscope, OtherFrameSizesAreClippedLikeTheFullFrame) {
    // A script may change the mode after the parameter stage, leaving another
    // display's size: whatever fits matches the full frame, nothing lands outside.
    auto inst = preparedInstance();
    for (auto [w, h, pad] : {std::array{64, 48, 0}, {1, 1, 0}, {7, 5, 3}, {33, 1, 1}, {1, 41, 0}}) {
        const Image src = noise(w, h, static_cast<uint32_t>(w * 131 + h));
        const Image full = renderDirect(*inst, src, kSize, kSize, pad);
        // 629 columns or 628 rows fall one short of the circle marks' reach.
        for (auto [dw, dh] : {std::pair{400, 300},
                              {100, 80},
                              {631, 632},
                              {632, 631},
                              {629, 632},
                              {632, 628},
                              {1, 1},
                              {0, 632},
                              {632, 0},
                              {700, 650}}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " into " + std::to_string(dw) + "x" +
                         std::to_string(dh));
            const Image out = renderDirect(*inst, src, dw, dh, pad);
            Image want(dw, dh);
            for (int32_t y = 0; y < std::min(dh, kSize); ++y)
                for (int32_t x = 0; x < std::min(dw, kSize); ++x) want.at(x, y) = full.at(x, y);
            // A crop's last row misses plots aimed one row below the frame.
            for (int32_t x = 0; dh > 0 && dh < kSize && x < dw; ++x) want.at(x, dh - 1) = out.at(x, dh - 1);
            expectSamePixels(out, want);
        }
    }
}

TEST(Vectorscope, ForeignTablesNeverWriteOutside) {
    auto inst = preparedInstance();
    // A luma stuck at 0 rises nowhere but never falls: each level is its own difference.
    for (auto& row : inst->weightTable) std::fill(std::begin(row), std::end(row), 0u);
    ChromaReach r = chromaReach(*inst);
    EXPECT_EQ(std::tuple(r.minBlue, r.maxBlue, r.minRed, r.maxRed), std::tuple(0, 255, 0, 255));
    // R - Y up to 255 gives V = 447, beyond even a 700 x 700 frame: clipped.
    renderDirect(*inst, noise(50, 40, 9), 700, 700);
    // A pure blue pixel still has its dot: B - Y = 255 gives U = 250, V = 0.
    const Image blue = renderDirect(*inst, Image(1, 1, rgb(0, 0, 255)), 700, 700);
    EXPECT_EQ(std::pair(blue.at(564, 317), blue.at(565, 318)), std::pair(rgb(0, 0, 255), rgb(0, 0, 255)));
    // Signed entries of the hot pixel scan fall and wrap: nothing can be assumed.
    inst->weightTable[1][7] = static_cast<uint32_t>(-4096);
    r = chromaReach(*inst);
    EXPECT_EQ(std::pair(r.minBlue, r.maxRed), std::pair(-255, 255));
    for (int row : {1, 2})
        std::fill(std::begin(inst->weightTable[row]), std::end(inst->weightTable[row]), 0x80000000u);
    r = chromaReach(*inst);  // rising, but the sum wraps past 2^32
    EXPECT_EQ(std::pair(r.maxBlue, r.minRed), std::pair(255, -255));
    // Through the host: tables never built for this display (a new record
    // holds 0xA5), then another display's output size.
    for (DisplayMode first : {DisplayMode::Video, DisplayMode::HotPixel, DisplayMode::Waveform}) {
        SCOPED_TRACE(static_cast<int>(first));
        renderHosted(noise(120, 90, 3), 2, defaultArgs(DisplayMode::Vectorscope), first);
    }
}

// At every kernel level, each pixel's dot where its luma and the tables put
// it, the later pixel in storage order on top: every level of every channel
// in a row past every power of two (4097 wide), noise, and one pixel. Each
// picture's first stored pixel is black, whose dot the graticule image holds.
TEST(Vectorscope, EveryPixelsDotAtEveryLevel) {
    auto inst = preparedInstance();
    Image wide(4097, 3);
    for (int32_t y = 0; y < wide.h; ++y)
        for (int32_t x = 0; x < wide.w; ++x)
            wide.at(x, y) = rgb(x & 0xFF, (x * 7 + 85 * y) & 0xFF, (255 - x) & 0xFF);
    std::vector<Image> pictures = {wide, noise(67, 45, 77), Image(1, 1, 0)};
    std::vector<SimdLevel> levels = vectorLevels();
    levels.insert(levels.begin(), SimdLevel::Scalar);
    for (Image& src : pictures) {
        src.at(0, src.h - 1) = 0;
        Image want = graticule();
        for (int32_t y = src.h - 1; y >= 0; --y) {
            for (int32_t x = 0; x < src.w; ++x) {
                const uint32_t px = src.at(x, y), r = (px >> 16) & 0xFF, g = (px >> 8) & 0xFF, b = px & 0xFF;
                const uint32_t sum =
                    inst->weightTable[0][r] + inst->weightTable[1][g] + inst->weightTable[2][b] + 1;
                const int32_t luma = std::clamp(inst->lumaOffset + static_cast<int32_t>(sum >> 24), 0, 255);
                const int32_t dx = 314 + inst->uScale[static_cast<int32_t>(b) - luma + 255];
                const int32_t dy = 317 - inst->vScale[static_cast<int32_t>(r) - luma + 255];
                for (int i = 0; i < 4; ++i) want.at(dx + i % 2, dy + i / 2) = px;
            }
        }
        for (const SimdLevel level : levels) {
            SCOPED_TRACE(std::to_string(src.w) + "x" + std::to_string(src.h) + ", " + levelName(level));
            const StoredFrame in(src, 1);
            StoredFrame out(kSize, kSize, 3, 0x5A5A5A5Au);
            EXPECT_EQ(renderVectorscope(*inst, in.constFrame(), out.frame(), level), 0);
            EXPECT_TRUE(out.paddingIntact());
            expectSamePixels(out.image(), want);
        }
    }
}

TEST(Vectorscope, GoldenTestCard) {
    const Image out = renderHosted(testCard());
    if (std::getenv("KIVREL_UPDATE_GOLDEN")) writePng(KIVREL_GOLDEN_DIR "/vectorscope.png", out);
    EXPECT_EQ(hashImage(out), 0xc6e2333c6acaaa4cull) << std::hex << hashImage(out);
}
