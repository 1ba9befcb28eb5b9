#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "draw/raster.h"
#include "draw/text.h"
#include "modes/waveform.h"
#include "params/luma.h"
#include "support/rng.h"
#include "support/simd_cases.h"
#include "support/test_host.h"

namespace {

constexpr uint32_t kAmberFill = 0xFFFFB700;                    // fills keep the opacity byte
constexpr uint32_t kAmberText = 0x00FFB700;                    // blended text leaves a top byte of 0
constexpr uint32_t kL = 1, kR = 2, kG = 4, kB = 8, kAll = 15;  // channel switches
constexpr uint32_t kChannelScale[4] = {0x010101, 0x010000, 0x000100, 0x000001};

ConfigArgs wfmArgs(uint32_t channels, int grid = 1, int rng255 = 1, int stdDef = 1) {
    ConfigArgs a = defaultArgs(DisplayMode::Waveform);
    a[5] = stdDef;
    a[6] = rng255;
    for (int c = 0; c < 4; ++c) a[7 + c] = (channels >> c) & 1;
    a[12] = grid;
    return a;
}

// The output rows the parameter stage gives `channels` on a fresh record
// (the parameter stage's own test holds the layouts to their sizes).
int32_t preparedHeight(uint32_t channels) {
    ScopeSettings s = kDefaultSettings;
    s.mode = static_cast<int32_t>(DisplayMode::Waveform);
    s.luma = (channels & kL) != 0;
    s.red = (channels & kR) != 0;
    s.green = (channels & kG) != 0;
    s.blue = (channels & kB) != 0;
    OutputGeometry g;
    prepared(s, 8, 8, g);
    return g.h;
}

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r << 16 | g << 8 | b; }
uint32_t brightnessOf(int64_t pixels) { return pixels == 0 ? 0 : std::min<int64_t>(128 + 5 * pixels, 255); }

// The display as defined, column by column from the right, each shown count
// reset once drawn. Where a literal reading is unsound, writes outside the
// frame are dropped and counts past the ramp show 255.
Image referenceWaveform(const ScopeInstance& inst, const Image& src, int32_t W, int32_t H) {
    StoredFrame stored(W, H);
    const Frame dst = stored.frame();
    const ScopeSettings& s = inst.settings;
    const int32_t P = std::clamp(inst.panelHeight, 1, 256), l = 256 / P;
    fillRect(dst, 0, 0, W, H, 0);
    for (int32_t m = 0; m < std::clamp(inst.wfmChannelCount, 0, 4); ++m) {
        const int32_t T = m * (P + 10) + 10;
        fillRect(dst, W - 40, T, 2, P, kAmberFill);
        for (int32_t k = 32; s.wfmGrid && k <= 224; k += 32)
            fillRect(dst, 0, T + 1 + k / l, W - 40, 1, kAmberFill);
        for (int32_t x = 0; x < W - 40; x += 10)  // dashes at studio black (16) and white (235)
            for (int32_t row : {T - 1 + 224 / l + 16 / l, T + 32 / l - 12 / l})
                fillRect(dst, x, row, 5, 1, kAmberFill);
        for (int32_t k = 0; k <= 224; k += 32)
            drawText(dst, W - 39, T + k / l - 1, ("- " + std::to_string(255 - k)).c_str(), kAmberFill);
        fillRect(dst, 0, T + P, W - 38, 2, kAmberFill);
    }
    const bool on[4] = {s.luma != 0, s.red != 0, s.green != 0, s.blue != 0};
    std::vector<int64_t> counts(4 * 256, 0);  // pixels per channel and level
    for (int32_t x = src.w - 1; x >= 0; --x) {
        for (int32_t y = 0; y < src.h; ++y) {
            const uint32_t px = src.at(x, y), r = (px >> 16) & 0xFF, g = (px >> 8) & 0xFF, b = px & 0xFF;
            const uint32_t sum = inst.weightTable[0][r] + inst.weightTable[1][g] + inst.weightTable[2][b] + 1;
            const int64_t luma = int64_t{inst.lumaOffset} + (sum >> 24);
            if (luma >= 0 && luma <= 255) ++counts[static_cast<size_t>(luma)];
            ++counts[256 + r], ++counts[512 + g], ++counts[768 + b];
        }
        for (int ch = 0, m = 0; ch < 4; ++ch) {
            if (!on[ch]) continue;
            const int32_t T = m++ * (P + 10) + 10;
            for (int32_t v = 0; v <= 255; v += l) {
                int64_t& n = counts[static_cast<size_t>(ch * 256 + v)];
                const int32_t row = T + P - 1 - v / l;
                if (x < W && row >= 0 && row < H)
                    dst.canvasRow(row)[x] |= brightnessOf(n) * kChannelScale[ch];
                n = 0;
            }
        }
    }
    return stored.image();
}

::testing::AssertionResult sameImage(const Image& got, const Image& want) {
    if (got.w != want.w || got.h != want.h)
        return ::testing::AssertionFailure()
               << "size " << got.w << "x" << got.h << ", want " << want.w << "x" << want.h;
    const auto [a, b] = std::mismatch(got.px.begin(), got.px.end(), want.px.begin());
    if (a == got.px.end()) return ::testing::AssertionSuccess();
    const auto i = a - got.px.begin();
    return ::testing::AssertionFailure() << "first difference at (" << i % got.w << "," << i / got.w
                                         << "): " << std::hex << *a << ", want " << *b;
}

// The parameter stage runs for `stageMode` (its defaults) or the waveform with
// `channels`; a script may then switch to `late`, the tables may be made
// stale, and the frame is drawn by the host or, for a dst size given, directly.
// Checks the sentinels, the host's geometry and the reference's picture.
struct Case {
    int32_t srcPad = 5;
    DisplayMode stageMode = DisplayMode::Waveform;
    uint32_t channels = kAll;
    std::optional<uint32_t> late{};
    int grid = 1, rng255 = 1, stdDef = 1;
    int32_t dstW = 0, dstH = 0, dstPad = 3;     // dst size 0: as the stage chose
    int32_t panelHeight = 0, channelCount = 0;  // both 0: as the stage left them
    int32_t lumaOffset = 0;
    uint32_t weightFill = 0;  // 0: luma rows and offset as the stage left them
};

Image checkAgainstReference(TestInstance& ti, const Case& c, const Image& src) {
    const uint32_t late = c.late.value_or(c.channels);
    std::ostringstream o;
    o << "src " << src.w << "x" << src.h << "+" << c.srcPad << " stage " << static_cast<int>(c.stageMode)
      << " channels " << c.channels << "->" << late << " grid " << c.grid << " rng255 " << c.rng255
      << " stdDef " << c.stdDef << " dst " << c.dstW << "x" << c.dstH << "+" << c.dstPad << " stale panel "
      << c.panelHeight << "/" << c.channelCount << " stale luma " << c.lumaOffset << "/" << std::hex
      << c.weightFill;
    SCOPED_TRACE(o.str());
    const bool wfm = c.stageMode == DisplayMode::Waveform;
    ti.config(wfm ? wfmArgs(c.channels, c.grid, c.rng255, c.stdDef) : defaultArgs(c.stageMode));
    ti.setSource(src, c.srcPad);
    ti.param(c.dstPad);
    ti.config(wfmArgs(late, c.grid, c.rng255, c.stdDef));
    ScopeInstance& inst = ti.state();
    if (c.panelHeight || c.channelCount)
        inst.panelHeight = c.panelHeight, inst.wfmChannelCount = c.channelCount;
    if (c.weightFill) inst.lumaOffset = c.lumaOffset;
    for (int row = 0; c.weightFill && row < 3; ++row)
        std::fill_n(inst.weightTable[row], kLevels, c.weightFill);
    if (wfm) {
        EXPECT_EQ(ti.dst().pitch, 4 * (src.w + 40 + c.dstPad));
        EXPECT_EQ(ti.dst().h, preparedHeight(c.channels));
    }
    const bool direct = c.dstW || c.dstH;
    StoredFrame own(c.dstW ? c.dstW : ti.dst().w, c.dstH ? c.dstH : ti.dst().h, c.dstPad, 0x5A5A5A5Au);
    const StoredFrame in(src, c.srcPad);
    FrameBuffer& out = direct ? own : ti.outputFrame();
    EXPECT_EQ(direct ? renderWaveform(inst, in.constFrame(), out.frame(), machineSimdLevel()) : ti.run(), 0);
    EXPECT_TRUE(out.paddingIntact() && in.paddingIntact() && ti.sourcePaddingIntact());
    EXPECT_TRUE(sameImage(imageOf(out.frame()), referenceWaveform(inst, src, out.w(), out.h())));
    return imageOf(out.frame());
}

// A few colours per frame, so levels repeat within columns; sometimes noise.
Image randomPicture(TestRng& rng, int32_t w, int32_t h) {
    Image img(w, h);
    uint32_t palette[4];
    for (uint32_t& p : palette) p = rng.next() | (rng.next() << 24);
    const bool noise = rng.below(4) == 0;
    for (uint32_t& p : img.px) p = noise ? rng.next() ^ (rng.next() << 12) : palette[rng.below(4)];
    return img;
}

}  // namespace

TEST(Waveform, UniformFramesLightOneRowPerPanel) {
    TestHost host;
    auto check = [&host](uint32_t channels, int grid, int rng255, uint32_t px, std::array<int32_t, 4> levels,
                         int32_t w, int32_t h) {
        SCOPED_TRACE("channels " + std::to_string(channels) + " " + std::to_string(w) + "x" +
                     std::to_string(h));
        TestInstance ti(host);
        const Image out = checkAgainstReference(ti, {.channels = channels, .grid = grid, .rng255 = rng255},
                                                Image(w, h, px));
        ASSERT_EQ(out.w, w + 40);
        EXPECT_EQ(channels ? lumaOf(ti.state(), px) : 0, levels[0]);
        EXPECT_TRUE(channels || std::all_of(out.px.begin(), out.px.end(), [](uint32_t p) { return p == 0; }))
            << "black";
        if (h == 1) {
            EXPECT_EQ(out.at(0, 10 + 127 - 64), 0x858585u);  // one pixel: 133 in the luma panel
        }
        const int32_t P = std::popcount(channels) >= 3 ? 128 : 256, l = 256 / P, W = out.w;
        for (int ch = 0, m = 0; ch < 4; ++ch) {
            if (!(channels >> ch & 1)) continue;
            const int32_t T = 10 + m++ * (P + 10), row = T + P - 1 - levels[ch] / l;
            // Half-height panels drop odd levels: the row they share with the level below stays dark.
            const uint32_t dot = levels[ch] % l ? 0u : brightnessOf(h) * kChannelScale[ch];
            for (int32_t x : {0, w - 1}) EXPECT_EQ(out.at(x, row), dot) << "panel " << m << " column " << x;
            // Scale line, bottom line, dash at studio black (16), first grid line, the "2" of "- 255" (7C).
            for (uint32_t p :
                 {out.at(W - 39, T), out.at(W - 39, T + P + 1), out.at(0, T + P + 1), out.at(4, T + 239 / l)})
                EXPECT_EQ(p, kAmberFill) << "panel " << m;
            EXPECT_EQ(out.at(0, T + 1 + 32 / l), grid ? kAmberFill : 0u);
            EXPECT_EQ(out.at(W - 22, T - 2), kAmberText);
        }
    };
    // Luma of (200, 123, 49) under 0-255 / 601: 16 + trunc(118.17) = 134. 25 pixels give 253, 26 or more 255.
    for (uint32_t ch : {kAll, kL | kR, kG, kR | kG | kB})
        for (int32_t h : {25, 26, 40}) check(ch, h & 1, 1, rgb(200, 123, 49), {134, 200, 123, 49}, 13, h);
    // One grey 128 pixel under 16-235: luma 128, brightness 133 in every panel.
    check(kAll, 1, 0, 0x00808080, {128, 128, 128, 128}, 1, 1);
    // Past 1023 pixels of a level the count would index beyond the 5120-entry
    // ramp, into tables the host's record holds unbuilt: all show 255.
    for (int32_t h : {1023, 1024, 1100, 2160})
        check(kAll, 0, 1, rgb(200, 124, 50), {134, 200, 124, 50}, 3, h);
    for (int32_t w : {1, 320})
        for (int grid : {0, 1}) check(0, grid, 1, rgb(200, 124, 50), {}, w, 30);
}

TEST(Waveform, OutputColumnShowsItsSourceColumn) {
    // Odd width, no grid; column x holds three pixels of blue 7x: brightness 143.
    TestHost host;
    TestInstance ti(host);
    Image src(37, 3);
    for (int32_t x = 0; x < src.w; ++x)
        for (int32_t y = 0; y < src.h; ++y) src.at(x, y) = rgb(255, 0, static_cast<uint32_t>(7 * x));
    const Image out = checkAgainstReference(ti, {.channels = kB | kL, .grid = 0, .rng255 = 0}, src);
    for (int32_t x = 0; x < src.w; ++x) {
        EXPECT_EQ(out.at(x, 10 + 255 - lumaOf(ti.state(), src.at(x, 0))), 143 * 0x010101u) << x;
        EXPECT_EQ(out.at(x, 276 + 255 - 7 * x), 143u) << x;
    }
}

TEST(Waveform, Source321WideGivesPitch1444) {
    TestHost host;
    TestInstance ti(host);
    checkAgainstReference(ti, {.srcPad = 3, .dstPad = 0}, testCard(321, 17));
    EXPECT_EQ(std::tuple(ti.dst().w, ti.dst().h, ti.dst().pitch), std::tuple(361, 562, ptrdiff_t{1444}));
}

TEST(Waveform, MismatchedGeometryStaleTablesAndLateSettings) {
    TestHost host;
    TestRng rng{99};
    const Image src = randomPicture(rng, 50, 23);
    std::vector<Case> cases = {
        {.dstW = 30, .dstPad = 2},
        {.dstW = 45},
        {.dstW = 1, .dstH = 1, .dstPad = 3},                              // narrow, in the margin, 1x1
        {.srcPad = 1, .grid = 0, .dstH = 100, .dstPad = 2},               // shorter than the panels
        {.srcPad = 1, .grid = 0, .dstW = 200, .dstH = 700, .dstPad = 0},  // larger than needed
        // Switched on or off after the stage, by a script: panels below the frame.
        {.channels = kR, .late = kAll, .rng255 = 0, .stdDef = 0},
        {.late = kR, .rng255 = 0, .stdDef = 0},
        {.channels = kL, .late = kAll},
        {.channels = kG | kB, .late = kAll},
        // Another display's stage: colour-model luma rows; 504-row panels and no channel count.
        {.stageMode = DisplayMode::HotPixel},
        {.stageMode = DisplayMode::Histograms, .late = kL}};
    for (auto [p, n] : {std::pair{504, 1}, {0, 9}, {-7, -1}, {1000, INT_MAX}, {126, 4}})
        cases.push_back({.panelHeight = p, .channelCount = n});
    for (auto [offset, fill] : {std::pair{16, 0xFFFFFFFFu},
                                {300, 0x7F000000u},
                                {-300, 0x01000000u},
                                {INT_MIN, 0x55000000u},
                                {INT_MAX, 0xFF000000u},
                                {-100, 0x42000000u}})
        cases.push_back({.lumaOffset = offset, .weightFill = fill});
    for (const Case& c : cases) {
        TestInstance ti(host);
        checkAgainstReference(ti, c, src);
    }
}

TEST(Waveform, MatchesColumnByColumnReferenceOnRandomFrames) {
    TestHost host;
    TestRng rng{2024};
    for (int i = 0; i < 300 && !::testing::Test::HasFailure(); ++i) {
        const bool tall = rng.below(20) == 0;
        const int32_t w = 1 + rng.below(tall ? 9 : 70), h = tall ? 1000 + rng.below(200) : 1 + rng.below(50);
        const Image src = randomPicture(rng, w, h);
        Case c{.srcPad = rng.below(3),
               .channels = static_cast<uint32_t>(rng.below(16)),
               .grid = rng.below(2),
               .rng255 = rng.below(2),
               .stdDef = rng.below(2),
               .dstPad = rng.below(3)};
        if (rng.below(8) == 0) c.late = static_cast<uint32_t>(rng.below(16));
        if (rng.below(6) == 0) c.dstW = 1 + rng.below(w + 60), c.dstH = 1 + rng.below(600);
        if (rng.below(10) == 0) c.panelHeight = 504 / (1 + rng.below(4)), c.channelCount = rng.below(5);
        TestInstance ti(host);
        checkAgainstReference(ti, c, src);
    }
}

TEST(Waveform, GoldenTestCard) {
    TestHost host;
    TestInstance ti(host);
    const Image out = checkAgainstReference(ti, {}, testCard());
    if (std::getenv("KIVREL_UPDATE_GOLDEN")) writePng(KIVREL_GOLDEN_DIR "/waveform.png", out);
    EXPECT_EQ(hashImage(out), 0x9f2da096b2a86cd9ull) << std::hex << hashImage(out);
}

// Counts at their edges, at every kernel level against the reference: every
// level in every channel with a column past the last whole block (4097
// wide), one level filling 1023+ rows of each column, runs of a level
// around where a dot stops brightening and around every power of two a
// count might be kept in (past 2^16 too), and one pixel.
TEST(Waveform, CountsAtTheirEdgesAtEveryLevel) {
    struct Frame {
        const char* name;
        Image picture;
    };
    std::vector<Frame> frames;
    Image wide(4097, 3);
    for (int32_t y = 0; y < wide.h; ++y)
        for (int32_t x = 0; x < wide.w; ++x)
            wide.px[static_cast<size_t>(y) * wide.w + x] =
                rgb(x & 0xFF, (x + 85 * y) & 0xFF, (255 - x) & 0xFF);
    frames.push_back({"every level, 4097 wide", wide});
    Image tall(260, 1100);
    for (int32_t y = 0; y < tall.h; ++y)
        for (int32_t x = 0; x < tall.w; ++x)
            tall.px[static_cast<size_t>(y) * tall.w + x] = 0x01010101u * (x & 0xFF);
    frames.push_back({"one level a column, 1100 rows", tall});
    // Column x: its first runs[x] rows at one colour, the rest at another.
    constexpr int32_t kRuns[] = {0,   1,   25,  26,  27,  126, 127, 128, 129, 254,  255,  256,
                                 257, 383, 384, 385, 511, 512, 513, 640, 700, 1022, 1023, 1024};
    Image runs(static_cast<int32_t>(std::size(kRuns)), 1100);
    for (int32_t y = 0; y < runs.h; ++y)
        for (int32_t x = 0; x < runs.w; ++x)
            runs.px[static_cast<size_t>(y) * runs.w + x] = y < kRuns[x] ? 0x00C08040u : 0xFF10E0F0u;
    frames.push_back({"runs across every count size", runs});
    // The same past what 16 bits count: a column of one level over 2^16 rows,
    // and runs around where a count would wrap and where a pass ends.
    constexpr int32_t kLongRuns[] = {0,     1,     1023,  1024,  30000, 64511, 64512, 64513, 65534,
                                     65535, 65536, 65537, 66000, 67071, 67072, 7,     1536};
    Image longRuns(static_cast<int32_t>(std::size(kLongRuns)), 67072);
    for (int32_t y = 0; y < longRuns.h; ++y)
        for (int32_t x = 0; x < longRuns.w; ++x)
            longRuns.px[static_cast<size_t>(y) * longRuns.w + x] =
                y < kLongRuns[x] ? 0x00C08040u : 0xFF10E0F0u;
    frames.push_back({"runs past 2^16 rows", longRuns});
    Image one(1, 1);
    one.px[0] = 0xFFFFFFFF;
    frames.push_back({"1x1", one});

    std::vector<SimdLevel> levels = vectorLevels();
    levels.insert(levels.begin(), SimdLevel::Scalar);
    TestHost host;
    for (const Frame& f : frames) {
        for (const uint32_t channels : {kAll, kL | kB}) {
            TestInstance ti(host);
            ti.config(wfmArgs(channels));
            ti.setSource(f.picture, 1);
            ti.param(1);
            ScopeInstance& inst = ti.state();
            const StoredFrame in(f.picture, 1);
            const Image want = referenceWaveform(inst, f.picture, ti.dst().w, ti.dst().h);
            for (const SimdLevel level : levels) {
                SCOPED_TRACE(std::string(f.name) + ", channels " + std::to_string(channels) + ", " +
                             levelName(level));
                StoredFrame out(ti.dst().w, ti.dst().h, 1, 0x5A5A5A5Au);
                EXPECT_EQ(renderWaveform(inst, in.constFrame(), out.frame(), level), 0);
                EXPECT_TRUE(out.paddingIntact());
                EXPECT_TRUE(sameImage(imageOf(out.frame()), want));
            }
        }
    }
}
