#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "draw/raster.h"
#include "draw/text.h"
#include "modes/waveform.h"
#include "params/luma.h"
#include "params/param_stage.h"
#include "support/rng.h"
#include "support/test_host.h"

namespace {

constexpr uint32_t kAmberFill = 0xFFFFB700;  // fills keep the opacity byte
constexpr uint32_t kAmberText = 0x00FFB700;  // blended text leaves a top byte of 0
constexpr uint32_t kLumaBit = 1, kRedBit = 2, kGreenBit = 4, kBlueBit = 8;
constexpr uint32_t kAllChannels = kLumaBit | kRedBit | kGreenBit | kBlueBit;
constexpr uint32_t kChannelScale[4] = {0x010101, 0x010000, 0x000100, 0x000001};
// Panel tops for 256-row and 128-row panels.
constexpr int32_t kTops256[] = {10, 276};
constexpr int32_t kTops128[] = {10, 148, 286, 424};

ConfigArgs wfmArgs(uint32_t channels, int grid = 1, int rng255 = 1, int stdDef = 1) {
    ConfigArgs a = defaultArgs(DisplayMode::Waveform);
    a[5] = stdDef;
    a[6] = rng255;
    for (int c = 0; c < 4; ++c) a[7 + c] = (channels >> c) & 1;
    a[12] = grid;
    return a;
}

int channelsOn(uint32_t channels) { return std::popcount(channels & kAllChannels); }
int32_t panelRows(uint32_t channels) { return channelsOn(channels) >= 3 ? 128 : 256; }
int32_t panelTop(uint32_t channels, int m) {
    return panelRows(channels) == 256 ? kTops256[m] : kTops128[m];
}
uint32_t brightnessOf(int64_t pixels) { return pixels == 0 ? 0 : std::min<int64_t>(128 + 5 * pixels, 255); }

// The display column by column, right to left, as it is defined: counts in
// steps of 5, every shown count reset after it is drawn. Two things differ
// from a literal reading, where the renderer must be sound: writes outside
// the frame are dropped, and a count past the ramp shows its last entry.
Image referenceWaveform(const ScopeInstance& inst, const Image& src, int32_t W, int32_t H) {
    StoredFrame stored(W, H);
    const Frame dst = stored.frame();
    const ScopeSettings& s = inst.settings;
    const int32_t P = std::clamp(inst.panelHeight, 1, 256);
    const int32_t l = 256 / P;
    const int32_t panels = std::clamp(inst.wfmChannelCount, 0, 4);
    fillRect(dst, 0, 0, W, H, 0);
    for (int32_t m = 0; m < panels; ++m) {
        const int32_t T = m * (P + 10) + 10;
        fillRect(dst, W - 40, T, 2, P, kAmberFill);
        if (s.wfmGrid)
            for (int32_t k = 32; k <= 224; k += 32) fillRect(dst, 0, T + 1 + k / l, W - 40, 1, kAmberFill);
        for (int32_t x = 0; x < W - 40; x += 10) {
            fillRect(dst, x, T - 1 + 224 / l + 16 / l, 5, 1, kAmberFill);
            fillRect(dst, x, T + 32 / l - 12 / l, 5, 1, kAmberFill);
        }
        for (int32_t k = 0; k <= 224; k += 32) {
            char label[16];
            std::snprintf(label, sizeof label, "- %d", 255 - k);
            drawText(dst, W - 39, T + k / l - 1, label, kAmberFill);
        }
        fillRect(dst, 0, T + P, W - 38, 2, kAmberFill);
    }
    const bool on[4] = {s.luma != 0, s.red != 0, s.green != 0, s.blue != 0};
    std::vector<int64_t> counts(4 * 256, 0);
    for (int32_t x = src.w - 1; x >= 0; --x) {
        for (int32_t y = 0; y < src.h; ++y) {
            const uint32_t px = src.at(x, y);
            const uint32_t r = (px >> 16) & 0xFF, g = (px >> 8) & 0xFF, b = px & 0xFF;
            const uint32_t sum = inst.weightTable[0][r] + inst.weightTable[1][g] + inst.weightTable[2][b] + 1;
            const int64_t luma = int64_t{inst.lumaOffset} + (sum >> 24);
            if (luma >= 0 && luma <= 255) counts[static_cast<size_t>(luma)] += 5;
            counts[256 + r] += 5;
            counts[512 + g] += 5;
            counts[768 + b] += 5;
        }
        int32_t m = 0;
        for (int ch = 0; ch < 4; ++ch) {
            if (!on[ch]) continue;
            const int32_t T = m++ * (P + 10) + 10;
            for (int32_t v = 0; v <= 255; v += l) {
                int64_t& n = counts[static_cast<size_t>(ch * 256 + v)];
                const int32_t idx = static_cast<int32_t>(std::min<int64_t>(n, kWfmRampSize - 1));
                n = 0;
                const int32_t row = T + P - 1 - v / l;
                if (x < W && row >= 0 && row < H)
                    dst.canvasRow(row)[x] |= static_cast<uint32_t>(inst.wfmRamp[idx]) * kChannelScale[ch];
            }
        }
    }
    return stored.image();
}

// Compares whole pictures; reports the first few differing pixels.
::testing::AssertionResult sameImage(const Image& got, const Image& want) {
    if (got.w != want.w || got.h != want.h)
        return ::testing::AssertionFailure() << "size " << got.w << "x" << got.h << ", want " << want.w
                                             << "x" << want.h;
    std::ostringstream diff;
    int bad = 0;
    for (int32_t y = 0; y < got.h; ++y)
        for (int32_t x = 0; x < got.w; ++x)
            if (got.at(x, y) != want.at(x, y) && bad++ < 5)
                diff << " (" << x << "," << y << ") " << std::hex << got.at(x, y) << " want " << want.at(x, y)
                     << std::dec;
    if (bad == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << bad << " pixels differ:" << diff.str();
}

struct Dot {
    int32_t x, y;
    uint32_t colour;
};

// The graticule alone: the same settings over a source with no rows.
Image graticuleOnly(const TestHost& host, const ConfigArgs& args, int32_t srcW) {
    TestInstance inst(host);
    return inst.render(args, Image(srcW, 0));
}

// Dots ORed over the graticule and nothing else.
::testing::AssertionResult dotsOver(const Image& out, const Image& graticule, const std::vector<Dot>& dots) {
    Image want = graticule;
    for (const Dot& d : dots) want.at(d.x, d.y) |= d.colour;
    return sameImage(out, want);
}

// Every column of the first `w` holds `pixels` pixels of one colour whose
// levels are {luma, red, green, blue}.
std::vector<Dot> uniformDots(uint32_t channels, int32_t w, const int32_t (&levels)[4], int64_t pixels) {
    std::vector<Dot> dots;
    const int32_t P = panelRows(channels), l = 256 / P;
    int m = 0;
    for (int ch = 0; ch < 4; ++ch) {
        if (!(channels >> ch & 1)) continue;
        const int32_t top = panelTop(channels, m++);
        if (levels[ch] % l != 0) continue;  // half-height panels drop odd levels
        for (int32_t x = 0; x < w; ++x)
            dots.push_back({x, top + P - 1 - levels[ch] / l, brightnessOf(pixels) * kChannelScale[ch]});
    }
    return dots;
}

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r << 16 | g << 8 | b; }

// Host-level render with padded frames; checks that the padding survived.
Image renderChecked(TestInstance& inst, const ConfigArgs& args, const Image& src) {
    const Image out = inst.render(args, src);
    EXPECT_TRUE(inst.outputPaddingIntact());
    EXPECT_TRUE(inst.sourcePaddingIntact());
    return out;
}

std::string channelName(uint32_t channels) {
    std::string s;
    const char* names[4] = {"L", "R", "G", "B"};
    for (int c = 0; c < 4; ++c)
        if (channels >> c & 1) s += names[c];
    return s.empty() ? "none" : s;
}

// ---- direct renders of arbitrary geometry against the reference ----------

struct Case {
    int32_t srcW, srcH, srcPad;
    uint32_t channels;      // switches at the parameter stage
    uint32_t lateChannels;  // switches when the frame is drawn
    int grid, rng255, stdDef;
    int32_t dstW, dstH, dstPad;  // 0: as the parameter stage chose
    bool stalePanel = false;
    int32_t panelHeight = 0, channelCount = 0;
    bool staleLuma = false;
    int32_t lumaOffset = 0;
    uint32_t weightFill = 0;
};

std::string describe(const Case& c) {
    std::ostringstream o;
    o << "src " << c.srcW << "x" << c.srcH << "+" << c.srcPad << " channels " << channelName(c.channels)
      << "->" << channelName(c.lateChannels) << " grid " << c.grid << " rng255 " << c.rng255 << " stdDef "
      << c.stdDef << " dst " << c.dstW << "x" << c.dstH << "+" << c.dstPad;
    if (c.stalePanel) o << " panelHeight " << c.panelHeight << " count " << c.channelCount;
    if (c.staleLuma) o << " lumaOffset " << c.lumaOffset << " weights " << std::hex << c.weightFill;
    return o.str();
}

void checkAgainstReference(Case c, const Image& src) {
    SCOPED_TRACE(describe(c));
    auto inst = std::make_unique<ScopeInstance>();
    inst->settings = kDefaultSettings;
    ScopeSettings& s = inst->settings;
    s.mode = static_cast<int32_t>(DisplayMode::Waveform);
    auto setSwitches = [&s](uint32_t ch) {
        s.luma = ch & 1;
        s.red = ch >> 1 & 1;
        s.green = ch >> 2 & 1;
        s.blue = ch >> 3 & 1;
    };
    setSwitches(c.channels);
    s.wfmGrid = static_cast<uint8_t>(c.grid);
    s.rng255 = static_cast<uint8_t>(c.rng255);
    s.stdDef = static_cast<uint8_t>(c.stdDef);
    OutputGeometry g{c.srcW, c.srcH, 4 * static_cast<ptrdiff_t>(c.srcW)};
    runParamStage(*inst, g);
    setSwitches(c.lateChannels);
    if (c.stalePanel) {
        inst->panelHeight = c.panelHeight;
        inst->wfmChannelCount = c.channelCount;
    }
    if (c.staleLuma) {
        inst->lumaOffset = c.lumaOffset;
        for (int row = 0; row < 3; ++row) std::fill_n(inst->weightTable[row], kLevels, c.weightFill);
    }
    const int32_t W = c.dstW ? c.dstW : g.w;
    const int32_t H = c.dstH ? c.dstH : g.h;

    const StoredFrame in(src, c.srcPad);
    StoredFrame out(W, H, c.dstPad, 0x5A5A5A5Au);
    EXPECT_EQ(renderWaveform(*inst, in.constFrame(), out.frame()), 0);
    EXPECT_TRUE(out.paddingIntact());
    EXPECT_TRUE(in.paddingIntact());
    EXPECT_TRUE(sameImage(out.image(), referenceWaveform(*inst, src, W, H)));
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

TEST(Waveform, NoChannelGivesABlackFrame) {
    TestHost host;
    for (int32_t w : {1, 320}) {
        for (int grid : {0, 1}) {
            SCOPED_TRACE("width " + std::to_string(w) + " grid " + std::to_string(grid));
            TestInstance inst(host);
            const Image out = renderChecked(inst, wfmArgs(0, grid), testCard(w, 30));
            ASSERT_EQ(out.w, w + 40);
            ASSERT_EQ(out.h, 276);
            for (uint32_t p : out.px) ASSERT_EQ(p, 0u);
        }
    }
}

TEST(Waveform, GraticuleRowsAndColumns) {
    TestHost host;
    const int32_t srcW = 61, W = srcW + 40;
    for (uint32_t channels : {kLumaBit, kRedBit | kBlueBit, kAllChannels & ~kLumaBit, kAllChannels}) {
        for (int grid : {0, 1}) {
            SCOPED_TRACE(channelName(channels) + " grid " + std::to_string(grid));
            const Image out = graticuleOnly(host, wfmArgs(channels, grid), srcW);
            const int32_t P = panelRows(channels), l = 256 / P;
            std::vector<bool> scale(out.h), left(out.h), between(out.h);
            for (int m = 0; m < channelsOn(channels); ++m) {
                const int32_t T = panelTop(channels, m);
                for (int32_t y = T; y < T + P + 2; ++y) scale[y] = true;  // scale line, then bottom line
                left[T + P] = left[T + P + 1] = between[T + P] = between[T + P + 1] = true;
                // Dashes at studio black (16) and white (235) on columns 0-4, 10-14, ...
                left[l == 1 ? T + 239 : T + 119] = true;
                left[l == 1 ? T + 20 : T + 10] = true;
                if (grid)
                    for (int32_t k = 32; k <= 224; k += 32) left[T + 1 + k / l] = between[T + 1 + k / l] = true;
                // Each label's dash lies on its grid line's row, right of the scale line.
                for (int32_t k = 0; k <= 224; k += 32)
                    for (int32_t x = W - 38; x <= W - 33; ++x) EXPECT_EQ(out.at(x, T + 1 + k / l), kAmberText);
                // "- 255": the top row of the "2" (7C) at canvas row T - 2.
                EXPECT_EQ(out.at(W - 22, T - 2), kAmberText);
            }
            for (int32_t y = 0; y < out.h; ++y) {
                EXPECT_EQ(out.at(W - 40, y), scale[y] ? kAmberFill : 0u) << "scale line, row " << y;
                EXPECT_EQ(out.at(W - 39, y), scale[y] ? kAmberFill : 0u) << "scale line, row " << y;
                EXPECT_EQ(out.at(0, y), left[y] ? kAmberFill : 0u) << "column 0, row " << y;
                EXPECT_EQ(out.at(60, y), left[y] ? kAmberFill : 0u) << "column 60, row " << y;
                EXPECT_EQ(out.at(7, y), between[y] ? kAmberFill : 0u) << "column 7, row " << y;
            }
        }
    }
}

TEST(Waveform, UniformFrameLightsOneRowPerPanel) {
    TestHost host;
    // Luma of (200, 123, 49) under 0-255 / 601: 16 + trunc(118.17) = 134.
    const uint32_t px = rgb(200, 123, 49);
    const int32_t levels[4] = {134, 200, 123, 49};
    for (uint32_t channels : {kAllChannels, kLumaBit | kRedBit, kGreenBit, kAllChannels & ~kLumaBit}) {
        for (int32_t h : {25, 26, 40}) {
            SCOPED_TRACE(channelName(channels) + " height " + std::to_string(h));
            const int32_t w = 13;
            TestInstance inst(host);
            const Image out = renderChecked(inst, wfmArgs(channels), Image(w, h, px));
            ASSERT_EQ(lumaOf(inst.state(), px), 134);
            // 25 pixels give 253, 26 or more full brightness.
            EXPECT_TRUE(dotsOver(out, graticuleOnly(host, wfmArgs(channels), w), uniformDots(channels, w, levels, h)));
        }
    }
}

TEST(Waveform, BrightnessRisesByFivePerPixel) {
    TestHost host;
    // Column x: x + 1 pixels at red 10 and the rest at red 20.
    const int32_t w = 30, h = 30;
    Image src(w, h);
    for (int32_t x = 0; x < w; ++x)
        for (int32_t y = 0; y < h; ++y) src.at(x, y) = rgb(y <= x ? 10 : 20, 0, 0);
    TestInstance inst(host);
    const Image out = renderChecked(inst, wfmArgs(kRedBit), src);
    std::vector<Dot> dots;
    for (int32_t x = 0; x < w; ++x) {
        dots.push_back({x, 10 + 255 - 10, brightnessOf(x + 1) << 16});
        if (x + 1 < h) dots.push_back({x, 10 + 255 - 20, brightnessOf(h - x - 1) << 16});
    }
    EXPECT_TRUE(dotsOver(out, graticuleOnly(host, wfmArgs(kRedBit), w), dots));
    EXPECT_EQ(out.at(0, 255), 0x850000u);   // one pixel: 133
    EXPECT_EQ(out.at(1, 255), 0x8A0000u);   // two: 138
    EXPECT_EQ(out.at(24, 255), 0xFD0000u);  // 25: 253
    EXPECT_EQ(out.at(25, 255), 0xFF0000u);  // 26: 255
}

TEST(Waveform, SinglePixelShowsBrightness133) {
    TestHost host;
    // Grey 128 under 16-235 / 601 has luma 128, an even level: every panel shows it.
    TestInstance inst(host);
    const Image out = renderChecked(inst, wfmArgs(kAllChannels, 1, 0), Image(1, 1, 0x00808080));
    ASSERT_EQ(out.w, 41);
    ASSERT_EQ(out.h, 562);
    EXPECT_EQ(out.at(0, 10 + 127 - 64), 0x858585u);
    EXPECT_EQ(out.at(0, 148 + 127 - 64), 0x850000u);
    EXPECT_EQ(out.at(0, 286 + 127 - 64), 0x008500u);
    EXPECT_EQ(out.at(0, 424 + 127 - 64), 0x000085u);
    const int32_t levels[4] = {128, 128, 128, 128};
    EXPECT_TRUE(dotsOver(out, graticuleOnly(host, wfmArgs(kAllChannels, 1, 0), 1),
                         uniformDots(kAllChannels, 1, levels, 1)));
}

TEST(Waveform, OutputColumnShowsItsSourceColumn) {
    TestHost host;
    // Odd width; each column has its own blue level, three pixels deep.
    const int32_t w = 37, h = 3;
    Image src(w, h);
    for (int32_t x = 0; x < w; ++x)
        for (int32_t y = 0; y < h; ++y) src.at(x, y) = rgb(255, 0, static_cast<uint32_t>(7 * x));
    TestInstance inst(host);
    const Image out = renderChecked(inst, wfmArgs(kBlueBit | kLumaBit, 0, 0), src);
    std::vector<Dot> dots;
    for (int32_t x = 0; x < w; ++x) {
        dots.push_back({x, 10 + 255 - lumaOf(inst.state(), src.at(x, 0)), 143 * 0x010101u});
        dots.push_back({x, 276 + 255 - 7 * x, 143});
    }
    EXPECT_TRUE(dotsOver(out, graticuleOnly(host, wfmArgs(kBlueBit | kLumaBit, 0, 0), w), dots));
}

TEST(Waveform, Source321WideGivesPitch1444) {
    TestHost host;
    TestInstance inst(host);
    inst.config(wfmArgs(kAllChannels));
    const Image src = testCard(321, 17);
    inst.setSource(src, 3);
    inst.param(0);
    EXPECT_EQ(inst.dst().w, 361);
    EXPECT_EQ(inst.dst().h, 562);
    EXPECT_EQ(inst.dst().pitch, 1444);
    inst.param(3);
    EXPECT_EQ(inst.run(), 0);
    EXPECT_TRUE(inst.outputPaddingIntact());
    EXPECT_TRUE(sameImage(inst.output(), referenceWaveform(inst.state(), src, 361, 562)));
}

TEST(Waveform, TallColumnsShowFullBrightnessWithoutReadingPastTheRamp) {
    TestHost host;
    // More than 1023 pixels of one level would index past the 5120-entry
    // ramp; every such count shows at 255. (In the host's instance record
    // the entries past the ramp hold unbuilt tables, so an over-read shows.)
    const uint32_t px = rgb(200, 124, 50);
    const int32_t levels[4] = {134, 200, 124, 50};
    for (int32_t h : {1023, 1024, 1100, 2160}) {
        SCOPED_TRACE("height " + std::to_string(h));
        TestInstance inst(host);
        const Image out = renderChecked(inst, wfmArgs(kAllChannels), Image(3, h, px));
        ASSERT_EQ(lumaOf(inst.state(), px), 134);
        EXPECT_TRUE(dotsOver(out, graticuleOnly(host, wfmArgs(kAllChannels), 3),
                             uniformDots(kAllChannels, 3, levels, h)));
    }
    // Two levels of 1100 and 1060 pixels in one column.
    Image split(2, 2160, rgb(10, 10, 10));
    for (int32_t y = 0; y < 1100; ++y) split.at(0, y) = split.at(1, y) = rgb(20, 20, 20);
    TestInstance inst(host);
    const Image out = renderChecked(inst, wfmArgs(kRedBit), split);
    for (int32_t x = 0; x < 2; ++x) {
        EXPECT_EQ(out.at(x, 10 + 255 - 10), 0xFF0000u);
        EXPECT_EQ(out.at(x, 10 + 255 - 20), 0xFF0000u);
    }
}

TEST(Waveform, SettingsChangedByScriptWithoutParameterStage) {
    TestHost host;
    const Image src = testCard(45, 31);
    struct Step {
        const char* what;
        ConfigArgs before, after;
    };
    ConfigArgs hot = defaultArgs(DisplayMode::HotPixel);
    const Step steps[] = {
        // Hot-pixel colour-model rows are left in the luma rows.
        {"hot pixel tables", hot, wfmArgs(kAllChannels)},
        // The histograms leave 504-row panels and no channel count.
        {"histogram geometry", defaultArgs(DisplayMode::Histograms), wfmArgs(kLumaBit)},
        // Channels switched on after the stage: panels below the frame.
        {"late channels", wfmArgs(kLumaBit), wfmArgs(kAllChannels)},
        {"late channels, two", wfmArgs(kGreenBit | kBlueBit), wfmArgs(kAllChannels)},
    };
    for (const Step& st : steps) {
        SCOPED_TRACE(st.what);
        TestInstance inst(host);
        inst.config(st.before);
        inst.setSource(src, 2);
        inst.param();
        inst.config(st.after);
        EXPECT_EQ(inst.run(), 0);
        EXPECT_TRUE(inst.outputPaddingIntact());
        EXPECT_TRUE(sameImage(inst.output(), referenceWaveform(inst.state(), src, inst.dst().w, inst.dst().h)));
    }
}

TEST(Waveform, MismatchedGeometryAndStaleTables) {
    TestRng rng{99};
    const Image src = randomPicture(rng, 50, 23);
    const uint32_t all = kAllChannels;
    const Case cases[] = {
        {50, 23, 0, all, all, 1, 1, 1, 30, 0, 2},   // narrower than the picture
        {50, 23, 0, all, all, 1, 1, 1, 45, 0, 1},   // inside the scale margin
        {50, 23, 0, all, all, 1, 1, 1, 1, 1, 3},    // one pixel
        {50, 23, 1, all, all, 0, 1, 1, 0, 100, 2},  // shorter than the panels
        {50, 23, 1, all, all, 0, 1, 1, 200, 700, 0},  // larger than needed
        {50, 23, 0, kRedBit, all, 1, 0, 0, 0, 0, 5},  // switched on after the stage
        {50, 23, 0, all, kRedBit, 1, 0, 0, 0, 0, 5},  // switched off after the stage
        {50, 23, 0, all, all, 1, 1, 1, 0, 0, 1, true, 504, 1},
        {50, 23, 0, all, all, 1, 1, 1, 0, 0, 1, true, 0, 9},
        {50, 23, 0, all, all, 1, 1, 1, 0, 0, 1, true, -7, -1},
        {50, 23, 0, all, all, 1, 1, 1, 0, 0, 1, true, 1000, INT_MAX},
        {50, 23, 0, all, all, 1, 1, 1, 0, 0, 1, true, 126, 4},
        {50, 23, 0, all, all, 1, 1, 1, 0, 0, 1, false, 0, 0, true, 16, 0xFFFFFFFF},
        {50, 23, 0, all, all, 1, 1, 1, 0, 0, 1, false, 0, 0, true, 300, 0x7F000000},
        {50, 23, 0, all, all, 1, 1, 1, 0, 0, 1, false, 0, 0, true, -300, 0x01000000},
        {50, 23, 0, all, all, 1, 1, 1, 0, 0, 1, false, 0, 0, true, INT_MIN, 0x55000000},
        {50, 23, 0, all, all, 1, 1, 1, 0, 0, 1, false, 0, 0, true, INT_MAX, 0xFF000000},
        {50, 23, 0, all, all, 1, 1, 1, 0, 0, 1, false, 0, 0, true, -100, 0x42000000},
    };
    for (const Case& c : cases) checkAgainstReference(c, src);
}

TEST(Waveform, MatchesColumnByColumnReferenceOnRandomFrames) {
    TestRng rng{2024};
    for (int i = 0; i < 300; ++i) {
        Case c{};
        const bool tall = rng.below(20) == 0;
        c.srcW = tall ? 1 + rng.below(9) : 1 + rng.below(70);
        c.srcH = tall ? 1000 + rng.below(200) : 1 + rng.below(50);
        c.srcPad = rng.below(3);
        c.channels = static_cast<uint32_t>(rng.below(16));
        c.lateChannels = rng.below(8) == 0 ? static_cast<uint32_t>(rng.below(16)) : c.channels;
        c.grid = rng.below(2);
        c.rng255 = rng.below(2);
        c.stdDef = rng.below(2);
        c.dstPad = rng.below(3);
        if (rng.below(6) == 0) {
            c.dstW = 1 + rng.below(c.srcW + 60);
            c.dstH = 1 + rng.below(600);
        }
        if (rng.below(10) == 0) {
            const int32_t stale[] = {504, 252, 168, 126};
            c.stalePanel = true;
            c.panelHeight = stale[rng.below(4)];
            c.channelCount = rng.below(5);
        }
        checkAgainstReference(c, randomPicture(rng, c.srcW, c.srcH));
        if (::testing::Test::HasFailure()) break;
    }
}

TEST(Waveform, GoldenTestCard) {
    TestHost host;
    TestInstance inst(host);
    const Image out = renderChecked(inst, defaultArgs(DisplayMode::Waveform), testCard());
    ASSERT_EQ(out.w, 360);
    ASSERT_EQ(out.h, 562);
    EXPECT_TRUE(sameImage(out, referenceWaveform(inst.state(), testCard(), 360, 562)));
    if (std::getenv("KIVREL_UPDATE_GOLDEN")) writePng(KIVREL_GOLDEN_DIR "/waveform.png", out);
    EXPECT_EQ(hashImage(out), 0x9f2da096b2a86cd9ull) << std::hex << hashImage(out);
}
