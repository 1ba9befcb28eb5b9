// Hot pixel scan: the colour-model tables, the decision and the three change
// actions, on telling colours, on many colours by their properties, and
// through the host with padded frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "modes/hotpixel.h"
#include "params/param_stage.h"
#include "support/rng.h"
#include "support/image.h"
#include "support/test_host.h"

namespace {

constexpr int32_t kToBlack = 0, kIntensity = 1, kSaturation = 2;
constexpr int kYuv = 0, kYiq = 1;            // the ntsc switch
constexpr int kGammaOff = 0, kGammaOn = 1;   // the "Gamma Corrected" switch
constexpr int32_t kCeilings[] = {100, 110, 120};  // the dialog's choices

std::string describe(int ntsc, int gamma, int32_t maxIRE) {
    return std::string(ntsc ? "YIQ" : "YUV") + (gamma ? " gamma on" : " gamma off") + " maxIRE " +
           std::to_string(maxIRE);
}

uint32_t red(uint32_t px) { return (px >> 16) & 0xFF; }
uint32_t green(uint32_t px) { return (px >> 8) & 0xFF; }
uint32_t blue(uint32_t px) { return px & 0xFF; }

// A bare instance record run through the parameter stage in the hot pixel mode.
class HotPixel : public ::testing::Test {
protected:
    std::unique_ptr<ScopeInstance> inst = std::make_unique<ScopeInstance>();

    void prepare(int ntsc, int gamma, int32_t maxIRE) {
        inst->settings = kDefaultSettings;
        inst->settings.mode = static_cast<int32_t>(DisplayMode::HotPixel);
        inst->settings.ntsc = static_cast<uint8_t>(ntsc);
        inst->settings.gamma = static_cast<uint8_t>(gamma);
        inst->settings.maxIRE = maxIRE;
        OutputGeometry g{7, 5, 32};
        runParamStage(*inst, g);
        EXPECT_EQ(g.w, 7);  // the geometry is the source's
        EXPECT_EQ(g.h, 5);
        EXPECT_EQ(g.pitch, 32);
    }
    uint32_t change(uint32_t px, int32_t hotFix) {
        inst->settings.hotFix = hotFix;
        return hotPixelTest(*inst, px);
    }
    int32_t entry(int row, int level) const {
        return static_cast<int32_t>(inst->weightTable[row][level]);
    }
    // Y, C1 and C2 of a pixel, as the decision sees them.
    int32_t component(int c, uint32_t px) const {
        return entry(3 * c, red(px)) + entry(3 * c + 1, green(px)) + entry(3 * c + 2, blue(px));
    }
};

// ---------------------------------------------------------------- tables

TEST_F(HotPixel, FullLevelEntriesAndLimits) {
    // L(255) = 8192 with either gamma setting, so these are the matrices * 8192,
    // negative entries rounded toward zero (-1206.68 gives -1206).
    constexpr int32_t kFullYuv[9] = {2449, 4805, 937, -1206, -2367, 3575, 5037, -4214, -821};
    constexpr int32_t kFullYiq[9] = {2449, 4805, 937, 4882, -2244, -2635, 1731, -4281, 2550};
    struct Limits {
        int32_t maxIRE;
        double peak;
        int32_t peakFixed;
    };
    constexpr Limits kLimits[] = {{100, 1.0, 8192}, {110, 1.1, 9011}, {120, 1.2, 9830}};
    for (int ntsc : {kYuv, kYiq}) {
        for (int gamma : {kGammaOff, kGammaOn}) {
            for (const Limits& l : kLimits) {
                SCOPED_TRACE(describe(ntsc, gamma, l.maxIRE));
                prepare(ntsc, gamma, l.maxIRE);
                for (int row = 0; row < kWeightRows; ++row) {
                    EXPECT_EQ(entry(row, 255), (ntsc ? kFullYiq : kFullYuv)[row]) << "row " << row;
                    EXPECT_EQ(entry(row, 0), 0) << "row " << row;  // L(0) = 0
                }
                EXPECT_EQ(component(0, 0xFFFFFF), 8191);  // white's Y
                EXPECT_EQ(inst->hotLimits.chromaLimit, 0.5);
                EXPECT_NEAR(inst->hotLimits.peakLimit, l.peak, 1e-12);
                EXPECT_EQ(inst->hotLimits.chromaLimitSquared, 16777216);
                EXPECT_EQ(inst->hotLimits.peakLimitFixed, l.peakFixed);
            }
        }
    }
}

TEST_F(HotPixel, SignalLevelFollowsTheGammaSetting) {
    for (int ntsc : {kYuv, kYiq}) {
        // Gamma corrected: L(i) is the integer part of i * 8192 / 255; 128 gives 4112.
        prepare(ntsc, kGammaOn, 100);
        EXPECT_EQ(entry(0, 128), 1229) << "round(4112 * 0.2989)";
        // Not corrected: L(128) = (128 / 255)^(1 / gamma) * 8192, truncated:
        // 6404 for PAL (2.8) and 5988 for NTSC (2.2).
        prepare(ntsc, kGammaOff, 100);
        EXPECT_EQ(entry(0, 128), ntsc ? 1790 : 1914) << "round(L * 0.2989)";
        for (int i = 1; i < kLevels; ++i) EXPECT_LT(entry(0, i - 1), entry(0, i)) << "level " << i;
    }
}

// ---------------------------------------------------------------- telling colours

TEST_F(HotPixel, GreysAreLegalAndWhiteOnlyAtOneHundred) {
    for (int ntsc : {kYuv, kYiq}) {
        for (int gamma : {kGammaOff, kGammaOn}) {
            for (int32_t maxIRE : kCeilings) {
                SCOPED_TRACE(describe(ntsc, gamma, maxIRE));
                prepare(ntsc, gamma, maxIRE);
                for (uint32_t v = 0; v < 255; ++v)
                    ASSERT_EQ(change(v * 0x010101u, kToBlack), v * 0x010101u) << "grey " << v;
                // The rounded entries leave white a residual chroma, while D = 1 at 100.
                EXPECT_EQ(component(1, 0xFFFFFF), ntsc ? 3 : 2);
                EXPECT_EQ(component(2, 0xFFFFFF), ntsc ? 0 : 2);
                const bool hot = maxIRE == 100;
                EXPECT_EQ(change(0xFFFFFF, kToBlack), hot ? 0u : 0xFFFFFFu);
                EXPECT_EQ(change(0xFFFFFF, kIntensity), 0xFFFFFFu);
                EXPECT_EQ(change(0xFFFFFF, kSaturation), 0xFFFFFFu);
            }
        }
    }
}

TEST_F(HotPixel, PureColoursWithoutGammaCorrection) {
    struct Case {
        int32_t maxIRE;
        uint32_t px, intensity, saturation;
    };
    constexpr Case kCases[] = {
        {100, 0xFF0000, 0xCA0000, 0xDA1010},  // red
        {100, 0x00FF00, 0x00D800, 0x2DDF2D},  // green
        {100, 0xFFFF00, 0xBFBF00, 0xE9E9A8},  // yellow
        {100, 0x0000FF, 0x0000FF, 0x0000FF},  // blue is legal
        // At 120 its chroma alone still makes red hot; yellow gets more room.
        {120, 0xFF0000, 0xCA0000, 0xDA1010},
        {120, 0xFFFF00, 0xE6E600, 0xF6F643},
    };
    for (int ntsc : {kYuv, kYiq}) {
        for (const Case& c : kCases) {
            if (ntsc == kYiq && c.maxIRE == 120) continue;  // the 120 IRE values are YUV's
            SCOPED_TRACE(describe(ntsc, kGammaOff, c.maxIRE) + " pixel " + std::to_string(c.px));
            prepare(ntsc, kGammaOff, c.maxIRE);
            EXPECT_EQ(change(c.px, kIntensity), c.intensity);
            EXPECT_EQ(change(c.px, kSaturation), c.saturation);
            EXPECT_EQ(change(c.px, kToBlack), c.px == c.intensity ? c.px : 0u);
        }
    }
}

TEST_F(HotPixel, DarkYellowAtOneHundredTwentyDependsOnTheModel) {
    prepare(kYuv, kGammaOff, 120);
    EXPECT_EQ(change(0xC0C000, kToBlack), 0u);
    prepare(kYiq, kGammaOff, 120);
    EXPECT_EQ(change(0xC0C000, kToBlack), 0xC0C000u);
}

TEST_F(HotPixel, TopByteKeptWhenLegalClearedWhenChanged) {
    prepare(kYuv, kGammaOff, 100);
    for (int32_t fix : {kToBlack, kIntensity, kSaturation, 7, -1}) {
        SCOPED_TRACE("hotFix " + std::to_string(fix));
        EXPECT_EQ(change(0xAB0000FF, fix), 0xAB0000FFu);  // legal blue
        EXPECT_EQ(change(0xAB808080, fix), 0xAB808080u);  // legal grey
        EXPECT_EQ(change(0xABFF0000, fix) >> 24, 0u);     // hot red
    }
    // Every hotFix other than 0 and 1 is saturation.
    EXPECT_EQ(change(0xFF0000, 7), 0xDA1010u);
    EXPECT_EQ(change(0xFF0000, -1), 0xDA1010u);
}

// ---------------------------------------------------------------- properties

// The legal range from the tables, in a form of its own: the chroma
// amplitude at most half of full scale, and luma plus amplitude at most the
// ceiling (so a luma alone above it is hot). `peak` is in 1/8192.
struct Oracle {
    static constexpr double kChromaLimit = 4096.0;  // half of full scale
    double peak;
    bool legal(int32_t y, int32_t c1, int32_t c2) const {
        const double a = std::sqrt(double(c1) * c1 + double(c2) * c2);
        return a <= kChromaLimit && y + a <= peak;
    }
};

class HotPixelProperties : public HotPixel {
protected:
    int failures = 0;

    void fail(const std::string& what, uint32_t px, uint32_t out) {
        if (++failures <= 5)
            ADD_FAILURE() << what << ": pixel 0x" << std::hex << px << " gives 0x" << out;
    }

    // All three actions on one colour, checked against the oracle.
    void checkColour(uint32_t px, const Oracle& oracle) {
        const int32_t y = component(0, px), c1 = component(1, px), c2 = component(2, px);
        if (oracle.legal(y, c1, c2)) {
            for (int32_t fix : {kToBlack, kIntensity, kSaturation}) {
                const uint32_t out = change(px, fix);
                if (out != px) fail("legal pixel changed", px, out);
            }
            return;
        }
        if (const uint32_t out = change(px, kToBlack); out != 0) fail("to black", px, out);

        // Intensity: one factor for all channels, none grows.
        const uint32_t dim = change(px, kIntensity);
        const uint32_t top = std::max({red(px), green(px), blue(px)});
        const double k = top ? double(std::max({red(dim), green(dim), blue(dim)})) / top : 0.0;
        for (int shift : {16, 8, 0}) {
            const uint32_t in = (px >> shift) & 0xFF, out = (dim >> shift) & 0xFF;
            if (out > in || std::abs(out - k * in) > 1.0) fail("intensity", px, dim);
        }
        if (dim >> 24) fail("intensity top byte", px, dim);

        // Saturation: each channel between its level and the pixel's luma; luma kept.
        const uint32_t desat = change(px, kSaturation);
        const double* m = inst->colourMatrix[0];
        auto lumaOf = [m](uint32_t p) { return m[0] * red(p) + m[1] * green(p) + m[2] * blue(p); };
        const double luma = lumaOf(px);
        constexpr double kHalfStep = 0.5 + 1e-9;  // one rounding
        // Three roundings weighted by the Y row, and the row's sum of 0.9999.
        constexpr double kLumaSlack = 0.5 + 0.03;
        for (int shift : {16, 8, 0}) {
            const double in = (px >> shift) & 0xFF, out = (desat >> shift) & 0xFF;
            if (out < std::min(in, luma) - kHalfStep || out > std::max(in, luma) + kHalfStep)
                fail("saturation leaves the span", px, desat);
        }
        if (std::abs(lumaOf(desat) - luma) > kLumaSlack) fail("saturation moves the luma", px, desat);
        if (desat >> 24) fail("saturation top byte", px, desat);
    }

    // Every colour of a 16-level cube and `randomCount` random words (random top bytes).
    void checkColours(const Oracle& oracle, int randomCount) {
        constexpr uint32_t kCubeStep = 17;  // 0, 17, ..., 255
        for (uint32_t r = 0; r < 256; r += kCubeStep)
            for (uint32_t g = 0; g < 256; g += kCubeStep)
                for (uint32_t b = 0; b < 256; b += kCubeStep) checkColour(r << 16 | g << 8 | b, oracle);
        TestRng rng{0x9E3779B9u};
        for (int i = 0; i < randomCount && failures <= 5; ++i) checkColour(rng.next(), oracle);
    }
};

TEST_F(HotPixelProperties, DialogCeilingsOverManyColours) {
    for (int ntsc : {kYuv, kYiq}) {
        for (int gamma : {kGammaOff, kGammaOn}) {
            for (int32_t maxIRE : kCeilings) {
                SCOPED_TRACE(describe(ntsc, gamma, maxIRE));
                prepare(ntsc, gamma, maxIRE);
                checkColours({double(inst->hotLimits.peakLimitFixed)}, 250000);
                ASSERT_EQ(failures, 0);
            }
        }
    }
}

// Ceilings only the settings record can hold. Below 100 a luma alone above
// the ceiling makes a pixel hot; a negative ceiling counts as 0, and from
// 150 on only the chroma limit decides (no legal chroma reaches that high).
TEST_F(HotPixelProperties, CeilingsOutsideTheDialog) {
    struct Case {
        int32_t maxIRE;
        double peakLimit;  // what the record then holds
        int32_t peakFixed;
        double oraclePeak;  // the ceiling as meant, in 1/8192
    };
    const Case kCases[] = {
        {0, 0.0, 0, 0.0},           {50, 0.5, 4096, 4096.0},       {99, 0.99, 8110, 8110.0},
        {-1, 0.0, 0, 0.0},          {INT_MIN, 0.0, 0, 0.0},        {151, 1.5, 12288, 12370.0},
        {1000, 1.5, 12288, 81920.0}, {INT_MAX, 1.5, 12288, 1.76e11},
    };
    for (const Case& c : kCases) {
        for (int ntsc : {kYuv, kYiq}) {
            for (int gamma : {kGammaOff, kGammaOn}) {
                SCOPED_TRACE(describe(ntsc, gamma, c.maxIRE));
                prepare(ntsc, gamma, c.maxIRE);
                EXPECT_NEAR(inst->hotLimits.peakLimit, c.peakLimit, 1e-12);
                EXPECT_EQ(inst->hotLimits.peakLimitFixed, c.peakFixed);
                checkColours({c.oraclePeak}, 20000);
                ASSERT_EQ(failures, 0);
            }
        }
    }
}

TEST_F(HotPixel, LumaAboveALowCeiling) {
    // Grey 0xC0 with gamma on: Y = 6167 (0.7528), C1 = C2 = 2, above 50 IRE.
    prepare(kYuv, kGammaOn, 50);
    EXPECT_EQ(change(0x12C0C0C0, kToBlack), 0u);
    // Intensity brings it to the ceiling: 192 * 0.5 / (0.7528 + 0.0003) = 127.46.
    EXPECT_EQ(change(0x12C0C0C0, kIntensity), 0x7F7F7Fu);
    // Saturation cannot lower a luma: the grey stays, as a changed pixel.
    EXPECT_EQ(change(0x12C0C0C0, kSaturation), 0xC0C0C0u);
    // A ceiling of 0 leaves only black legal.
    prepare(kYiq, kGammaOff, 0);
    EXPECT_EQ(change(0x12000000, kIntensity), 0x12000000u);
    EXPECT_EQ(change(0x010101, kIntensity), 0u);
    EXPECT_EQ(change(0xFF0000, kIntensity), 0u);
}

// ---------------------------------------------------------------- frames

Image mixedPicture(int32_t w, int32_t h) {
    // Every position distinct; hot and legal colours and top bytes mixed.
    Image img(w, h);
    TestRng rng{2024u + static_cast<uint32_t>(w * 131 + h)};
    for (uint32_t& p : img.px) p = rng.next();
    return img;
}

TEST(HotPixelHost, FramesOfEveryShapeThroughTheModule) {
    struct Shape {
        int32_t w, h, srcPad, dstPad;
    };
    constexpr Shape kShapes[] = {{1, 1, 0, 0}, {1, 1, 3, 5}, {3, 5, 1, 2}, {7, 2, 4, 0}, {2, 31, 0, 3}};
    TestHost host;
    for (const Shape& s : kShapes) {
        for (int32_t fix : {kToBlack, kIntensity, kSaturation}) {
            for (int ntsc : {kYuv, kYiq}) {
                const int gamma = (s.w + fix) & 1;
                SCOPED_TRACE(describe(ntsc, gamma, 100) + " hotFix " + std::to_string(fix) + " " +
                             std::to_string(s.w) + "x" + std::to_string(s.h) + " pads " +
                             std::to_string(s.srcPad) + "/" + std::to_string(s.dstPad));
                TestInstance inst(host);
                ConfigArgs args = defaultArgs(DisplayMode::HotPixel);
                args[3] = ntsc;
                args[4] = gamma;
                args[11] = fix;
                inst.config(args);
                inst.settings().maxIRE = 100;
                const Image src = mixedPicture(s.w, s.h);
                inst.setSource(src, s.srcPad);
                inst.param(s.dstPad);
                ASSERT_EQ(inst.dst().w, s.w);
                ASSERT_EQ(inst.dst().h, s.h);
                EXPECT_EQ(inst.run(), 0);
                const Image out = inst.output();
                for (int32_t y = 0; y < s.h; ++y)
                    for (int32_t x = 0; x < s.w; ++x)
                        ASSERT_EQ(out.at(x, y), hotPixelTest(inst.state(), src.at(x, y)))
                            << "at " << x << "," << y;
                EXPECT_TRUE(inst.outputPaddingIntact());
                EXPECT_TRUE(inst.sourcePaddingIntact());
            }
        }
    }
}

TEST_F(HotPixel, SmallerOutputIsClippedInBothFrames) {
    prepare(kYuv, kGammaOff, 100);
    const Image picture = mixedPicture(5, 4);
    StoredFrame src(picture, 2);
    StoredFrame dst(3, 2, 1, 0x11111111u);
    for (int32_t fix : {kToBlack, kIntensity, kSaturation}) {
        inst->settings.hotFix = fix;
        EXPECT_EQ(renderHotPixel(*inst, src.constFrame(), dst.frame()), 0);
        // Storage order from the bottom row: the output holds the picture's bottom-left corner.
        const Image out = dst.image();
        for (int32_t y = 0; y < 2; ++y)
            for (int32_t x = 0; x < 3; ++x)
                EXPECT_EQ(out.at(x, y), hotPixelTest(*inst, picture.at(x, y + 2)));
        EXPECT_TRUE(dst.paddingIntact());
    }
    StoredFrame wide(9, 6, 1, 0x11111111u);
    renderHotPixel(*inst, src.constFrame(), wide.frame());
    EXPECT_TRUE(wide.paddingIntact());
    EXPECT_EQ(wide.image().at(8, 0), 0x11111111u);  // beyond the source: untouched
}

TEST(HotPixelHost, TablesOfAnotherDisplayStayDefined) {
    // A script switches to the hot pixel scan after a luma display's
    // parameter stage: the rows hold unsigned 8.24 weights (some above 2^31).
    TestHost host;
    TestInstance inst(host);
    inst.config(defaultArgs(DisplayMode::Video));
    inst.setSource(mixedPicture(16, 16), 1);
    inst.param();
    for (int32_t fix : {kToBlack, kIntensity, kSaturation}) {
        ConfigArgs args = defaultArgs(DisplayMode::HotPixel);
        args[11] = fix;
        inst.config(args);
        EXPECT_EQ(inst.run(), 0);
        EXPECT_TRUE(inst.outputPaddingIntact());
    }
}

// ---------------------------------------------------------------- golden

// 100 % bars over a sweep of hues and blue: plenty of hot pixels.
Image saturatedPicture(int32_t w = 320, int32_t h = 240) {
    constexpr uint32_t kBars[] = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00,
                                  0xFF00FF, 0xFF0000, 0x0000FF, 0x000000};
    constexpr int32_t kBarCount = 8;
    Image img(w, h);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            if (y < h / 2) {
                img.at(x, y) = kBars[x * kBarCount / w];
            } else {
                const uint32_t r = static_cast<uint32_t>(x * 255 / (w - 1));
                const uint32_t b = static_cast<uint32_t>((y - h / 2) * 255 / (h - h / 2 - 1));
                img.at(x, y) = r << 16 | (255 - r) << 8 | b;
            }
        }
    }
    return img;
}

TEST(HotPixelHost, GoldenOutputs) {
    struct Golden {
        int ntsc, gamma;
        int32_t maxIRE, fix;
        uint64_t card, saturated;  // hashImage of the outputs
    };
    constexpr Golden kGolden[] = {
        {kYuv, kGammaOff, 100, kToBlack, 14708232298786058424u, 1434747492770764180u},
        {kYiq, kGammaOn, 110, kIntensity, 1009984320448358392u, 3621668349618300335u},
        {kYuv, kGammaOff, 120, kSaturation, 9828381155665077240u, 15729777966146460900u},
    };
    const Image pictures[2] = {testCard(), saturatedPicture()};
    constexpr int32_t kRows = 3;
    Image montage(2 * pictures[0].w, kRows * pictures[0].h);
    TestHost host;
    for (int32_t row = 0; row < kRows; ++row) {
        const Golden& g = kGolden[row];
        SCOPED_TRACE(describe(g.ntsc, g.gamma, g.maxIRE) + " hotFix " + std::to_string(g.fix));
        for (int col = 0; col < 2; ++col) {
            TestInstance inst(host);
            ConfigArgs args = defaultArgs(DisplayMode::HotPixel);
            args[3] = g.ntsc;
            args[4] = g.gamma;
            args[11] = g.fix;
            inst.config(args);
            inst.settings().maxIRE = g.maxIRE;
            inst.setSource(pictures[col], 3);
            inst.param();
            inst.run();
            const Image out = inst.output();
            EXPECT_EQ(hashImage(out), col ? g.saturated : g.card) << (col ? "saturated" : "card");
            for (int32_t y = 0; y < out.h; ++y)
                for (int32_t x = 0; x < out.w; ++x)
                    montage.at(col * out.w + x, row * out.h + y) = out.at(x, y);
        }
    }
    if (const char* update = std::getenv("KIVREL_UPDATE_GOLDEN"); update && std::string(update) == "1")
        EXPECT_TRUE(writePng(std::string(KIVREL_GOLDEN_DIR) + "/hotpixel.png", montage));
}

}  // namespace
