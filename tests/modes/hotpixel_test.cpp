#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>

#include "modes/display_table.h"
#include "modes/hotpixel.h"
#include "support/image.h"
#include "support/rng.h"
#include "support/test_host.h"

namespace {

constexpr int32_t kToBlack = 0, kIntensity = 1, kSaturation = 2;
constexpr int32_t kFixes[] = {kToBlack, kIntensity, kSaturation};
constexpr int kYuv = 0, kYiq = 1;                            // the ntsc switch
constexpr int kGammaOff = 0, kGammaOn = 1;                   // the "Gamma Corrected" switch
constexpr int32_t kCeilings[] = {100, 110, 120};             // the dialog's choices
constexpr int kArgNtsc = 3, kArgGamma = 4, kArgHotFix = 11;  // "Config" argument positions

std::string describe(int ntsc, int gamma, int32_t maxIRE, int32_t fix = 0) {
    return std::string(ntsc ? "YIQ" : "YUV") + (gamma ? " gamma on" : " gamma off") + " maxIRE " +
           std::to_string(maxIRE) + " hotFix " + std::to_string(fix);
}

uint32_t channel(uint32_t px, int shift) { return (px >> shift) & 0xFF; }

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
        prepareDisplay(*inst, g);
        EXPECT_EQ(std::tuple(g.w, g.h, g.pitch), std::tuple(7, 5, 32));  // the geometry is the source's
    }
    uint32_t change(uint32_t px, int32_t hotFix) {
        inst->settings.hotFix = hotFix;
        return hotPixelTest(*inst, px);
    }
    int32_t entry(int row, int level) const { return static_cast<int32_t>(inst->weightTable[row][level]); }
    // Y, C1 or C2 of a pixel, as the decision sees them.
    int32_t component(int c, uint32_t px) const {
        return entry(3 * c, channel(px, 16)) + entry(3 * c + 1, channel(px, 8)) +
               entry(3 * c + 2, channel(px, 0));
    }
};

TEST_F(HotPixel, TablesGreysAndWhite) {
    // L(255) = 8192 with either gamma setting, so these are the matrices * 8192,
    // negative entries rounded toward zero (-1206.68 gives -1206).
    constexpr int32_t kFull[2][kWeightRows] = {{2449, 4805, 937, -1206, -2367, 3575, 5037, -4214, -821},
                                               {2449, 4805, 937, 4882, -2244, -2635, 1731, -4281, 2550}};
    for (int ntsc : {kYuv, kYiq}) {
        for (int gamma : {kGammaOff, kGammaOn}) {
            for (int32_t maxIRE : kCeilings) {
                SCOPED_TRACE(describe(ntsc, gamma, maxIRE));
                prepare(ntsc, gamma, maxIRE);
                for (int row = 0; row < kWeightRows; ++row)
                    EXPECT_EQ(std::pair(entry(row, 0), entry(row, 255)), std::pair(0, kFull[ntsc][row]))
                        << row;
                // L(128): 4112 gamma corrected (i * 8192 / 255); else (128 / 255)^(1 / gamma) * 8192,
                // 6404 for PAL (2.8) and 5988 for NTSC (2.2); times 0.2989, rounded.
                EXPECT_EQ(entry(0, 128), gamma ? 1229 : ntsc ? 1790 : 1914);
                for (int i = 1; i < kLevels; ++i) ASSERT_LT(entry(0, i - 1), entry(0, i)) << "level " << i;
                EXPECT_EQ(inst->hotLimits.chromaLimit, 0.5);
                EXPECT_EQ(inst->hotLimits.chromaLimitSquared, 16777216);
                for (uint32_t v = 0; v < 255; ++v)
                    ASSERT_EQ(change(v * 0x010101u, kToBlack), v * 0x010101u) << "grey " << v;
                // White's Y is 8191, but the rounded entries leave it a residual chroma while D = 1 at 100.
                EXPECT_EQ(std::tuple(component(0, 0xFFFFFF), component(1, 0xFFFFFF), component(2, 0xFFFFFF)),
                          std::tuple(8191, ntsc ? 3 : 2, ntsc ? 0 : 2));
                EXPECT_EQ(change(0xFFFFFF, kToBlack), maxIRE == 100 ? 0u : 0xFFFFFFu);
                EXPECT_EQ(std::pair(change(0xFFFFFF, kIntensity), change(0xFFFFFF, kSaturation)),
                          std::pair(0xFFFFFFu, 0xFFFFFFu));
            }
        }
    }
}

TEST_F(HotPixel, TellingColours) {
    constexpr int kBoth = 2;             // YUV and YIQ alike
    constexpr uint32_t kAny = 1u << 31;  // not checked
    struct Case {
        int ntsc, gamma;
        int32_t maxIRE;
        uint32_t px, black, intensity, saturation;  // the output under each action
    };
    constexpr Case kCases[] = {
        {kBoth, kGammaOff, 100, 0xFF0000, 0, 0xCA0000, 0xDA1010},         // red
        {kBoth, kGammaOff, 100, 0x00FF00, 0, 0x00D800, 0x2DDF2D},         // green
        {kBoth, kGammaOff, 100, 0xFFFF00, 0, 0xBFBF00, 0xE9E9A8},         // yellow
        {kBoth, kGammaOff, 100, 0x0000FF, 0x0000FF, 0x0000FF, 0x0000FF},  // blue is legal
        // At 120 its chroma alone still makes red hot; yellow gets more room.
        {kYuv, kGammaOff, 120, 0xFF0000, 0, 0xCA0000, 0xDA1010},
        {kYuv, kGammaOff, 120, 0xFFFF00, 0, 0xE6E600, 0xF6F643},
        {kYuv, kGammaOff, 120, 0xC0C000, 0, kAny, kAny},  // hot in YUV, legal in YIQ
        {kYiq, kGammaOff, 120, 0xC0C000, 0xC0C000, 0xC0C000, 0xC0C000},
        // The top byte stays on legal pixels and is cleared on changed ones.
        {kYuv, kGammaOff, 100, 0xAB0000FF, 0xAB0000FF, 0xAB0000FF, 0xAB0000FF},
        {kYuv, kGammaOff, 100, 0xAB808080, 0xAB808080, 0xAB808080, 0xAB808080},
        {kYuv, kGammaOff, 100, 0xABFF0000, 0, 0xCA0000, 0xDA1010},
        // Grey 0xC0, gamma on: Y = 6167 (0.7528), C1 = C2 = 2, above 50 IRE. Intensity
        // brings it to 192 * 0.5 / (0.7528 + 0.0003) = 127.46; saturation cannot lower a luma.
        {kYuv, kGammaOn, 50, 0x12C0C0C0, 0, 0x7F7F7F, 0xC0C0C0},
        // A ceiling of 0 leaves only black legal.
        {kYiq, kGammaOff, 0, 0x12000000, 0x12000000, 0x12000000, 0x12000000},
        {kYiq, kGammaOff, 0, 0x010101, 0, 0, kAny},
        {kYiq, kGammaOff, 0, 0xFF0000, 0, 0, kAny},
    };
    for (const Case& c : kCases) {
        for (int ntsc : {kYuv, kYiq}) {
            if (c.ntsc != kBoth && c.ntsc != ntsc) continue;
            SCOPED_TRACE(describe(ntsc, c.gamma, c.maxIRE) + " pixel " + std::to_string(c.px));
            prepare(ntsc, c.gamma, c.maxIRE);
            EXPECT_EQ(change(c.px, kToBlack), c.black);
            if (c.intensity != kAny) EXPECT_EQ(change(c.px, kIntensity), c.intensity);
            if (c.saturation == kAny) continue;
            for (int32_t fix : {kSaturation, 7, -1})
                EXPECT_EQ(change(c.px, fix), c.saturation) << fix;  // all but 0, 1
        }
    }
}

TEST_F(HotPixel, PropertiesOverManyColoursAtEveryCeiling) {
    // Beyond the dialog's three: below 100 a luma alone above the ceiling is hot; a
    // record's ceiling outside the range the store accepts counts as its nearest end.
    struct Case {
        int32_t maxIRE;
        double peakLimit;  // what the record then holds
        int32_t peakFixed;
        double oraclePeak;  // the ceiling as meant, in 1/8192
        int randomCount;
    };
    const Case kCases[] = {
        {100, 1.0, 8192, 8192.0, 250000},
        {110, 1.1, 9011, 9011.0, 250000},
        {120, 1.2, 9830, 9830.0, 250000},
        {0, 0.0, 0, 0.0, 20000},
        {50, 0.5, 4096, 4096.0, 20000},
        {99, 0.99, 8110, 8110.0, 20000},
        {-1, 0.0, 0, 0.0, 20000},
        {INT_MIN, 0.0, 0, 0.0, 20000},
        {121, 1.2, 9830, 9830.0, 20000},
        {1000, 1.2, 9830, 9830.0, 20000},
        {INT_MAX, 1.2, 9830, 9830.0, 20000},
    };
    int failures = 0;
    auto fail = [&failures](const char* what, uint32_t px, uint32_t out) {
        if (++failures <= 5) ADD_FAILURE() << what << ": pixel 0x" << std::hex << px << " gives 0x" << out;
    };
    const double* m = inst->colourMatrix[0];
    auto lumaOf = [m](uint32_t p) {
        return m[0] * channel(p, 16) + m[1] * channel(p, 8) + m[2] * channel(p, 0);
    };
    // The legal range in a form of its own: the chroma amplitude at most half of
    // full scale, and luma plus amplitude at most the ceiling (`peak`, in 1/8192).
    auto check = [&](uint32_t px, double peak) {
        const int32_t y = component(0, px), c1 = component(1, px), c2 = component(2, px);
        const double a = std::sqrt(double(c1) * c1 + double(c2) * c2);
        if (a <= 4096.0 && y + a <= peak) {
            for (int32_t fix : kFixes)
                if (const uint32_t out = change(px, fix); out != px) fail("legal pixel changed", px, out);
            return;
        }
        if (const uint32_t out = change(px, kToBlack); out != 0) fail("to black", px, out);
        // Intensity: one factor for all channels, none grows.
        const uint32_t dim = change(px, kIntensity);
        const uint32_t top = std::max({channel(px, 16), channel(px, 8), channel(px, 0)});
        const double k =
            top ? std::max({channel(dim, 16), channel(dim, 8), channel(dim, 0)}) / double(top) : 0.0;
        // Saturation: each channel between its level and the pixel's luma (one rounding); luma kept
        // within three roundings weighted by the Y row and the row's sum of 0.9999.
        const uint32_t desat = change(px, kSaturation);
        const double luma = lumaOf(px), halfStep = 0.5 + 1e-9;
        for (int shift : {16, 8, 0}) {
            const double in = channel(px, shift), outI = channel(dim, shift), outS = channel(desat, shift);
            if (outI > in || std::abs(outI - k * in) > 1.0) fail("intensity", px, dim);
            if (outS < std::min(in, luma) - halfStep || outS > std::max(in, luma) + halfStep)
                fail("saturation leaves the span", px, desat);
        }
        if (std::abs(lumaOf(desat) - luma) > 0.5 + 0.03) fail("saturation moves the luma", px, desat);
        if ((dim | desat) >> 24) fail("top byte of a changed pixel", px, dim | desat);
    };
    for (const Case& c : kCases) {
        for (int ntsc : {kYuv, kYiq}) {
            for (int gamma : {kGammaOff, kGammaOn}) {
                SCOPED_TRACE(describe(ntsc, gamma, c.maxIRE));
                prepare(ntsc, gamma, c.maxIRE);
                EXPECT_NEAR(inst->hotLimits.peakLimit, c.peakLimit, 1e-12);
                EXPECT_EQ(inst->hotLimits.peakLimitFixed, c.peakFixed);
                for (uint32_t rgb = 0; rgb < 4096; ++rgb)  // a 16-level cube: 0, 17, ..., 255
                    check((rgb >> 8) * 17 << 16 | (rgb >> 4 & 15) * 17 << 8 | (rgb & 15) * 17, c.oraclePeak);
                TestRng rng{0x9E3779B9u};  // random words, top bytes included
                for (int i = 0; i < c.randomCount && failures <= 5; ++i) check(rng.next(), c.oraclePeak);
                ASSERT_EQ(failures, 0);
            }
        }
    }
}

ConfigArgs hotArgs(int ntsc, int gamma, int32_t fix) {
    ConfigArgs args = defaultArgs(DisplayMode::HotPixel);
    args[kArgNtsc] = ntsc;
    args[kArgGamma] = gamma;
    args[kArgHotFix] = fix;
    return args;
}

Image randomPicture(int32_t w, int32_t h) {  // hot and legal colours and top bytes mixed
    Image img(w, h);
    TestRng rng{2024u + static_cast<uint32_t>(w * 131 + h)};
    for (uint32_t& p : img.px) p = rng.next();
    return img;
}

TEST_F(HotPixel, OutputOfAnotherSizeIsClippedToBothFrames) {
    prepare(kYuv, kGammaOff, 100);
    const Image picture = randomPicture(5, 4);
    StoredFrame src(picture, 2);
    for (int32_t fix : kFixes) {
        SCOPED_TRACE(fix);
        inst->settings.hotFix = fix;
        StoredFrame small(3, 2, 1, 0x11111111u), wide(9, 6, 1, 0x11111111u);
        EXPECT_EQ(renderHotPixel(*inst, src.constFrame(), small.frame(), machineSimdLevel()), 0);
        renderHotPixel(*inst, src.constFrame(), wide.frame(), machineSimdLevel());
        // Storage order from the bottom row: the small output holds the picture's bottom-left corner.
        const Image out = small.image();
        for (int32_t y = 0; y < 2; ++y)
            for (int32_t x = 0; x < 3; ++x)
                EXPECT_EQ(out.at(x, y), hotPixelTest(*inst, picture.at(x, y + 2)));
        EXPECT_TRUE(small.paddingIntact() && wide.paddingIntact());
        EXPECT_EQ(wide.image().at(8, 0), 0x11111111u);  // beyond the source: untouched
    }
}

TEST(HotPixelHost, TablesOfAnotherDisplayStayDefined) {
    // A script switches to the hot pixel scan after a luma display's parameter
    // stage: the rows hold unsigned 8.24 weights (some above 2^31).
    TestHost host;
    TestInstance inst(host);
    inst.config(defaultArgs(DisplayMode::Video));
    inst.setSource(randomPicture(16, 16), 1);
    inst.param();
    for (int32_t fix : kFixes) {
        inst.config(hotArgs(kYiq, kGammaOn, fix));
        EXPECT_EQ(inst.run(), 0);
        EXPECT_TRUE(inst.outputPaddingIntact());
    }
}

// 100 % bars over a sweep of hues and blue: plenty of hot pixels.
Image saturatedPicture(int32_t w = 320, int32_t h = 240) {
    constexpr uint32_t kBars[] = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00,
                                  0xFF00FF, 0xFF0000, 0x0000FF, 0x000000};
    Image img(w, h);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t r = static_cast<uint32_t>(x * 255 / (w - 1));
            const uint32_t b = static_cast<uint32_t>((y - h / 2) * 255 / (h - h / 2 - 1));
            img.at(x, y) = y < h / 2 ? kBars[x * 8 / w] : r << 16 | (255 - r) << 8 | b;
        }
    }
    return img;
}

TEST(HotPixelHost, FramesThroughTheModuleAndGoldenOutputs) {
    struct Setting {
        int ntsc, gamma;
        int32_t maxIRE, fix;
        uint64_t card, saturated;  // hashImage of the outputs, 0 for none
    };
    constexpr Setting kSettings[] = {
        {kYuv, kGammaOff, 100, kToBlack, 14708232298786058424u, 1434747492770764180u},
        {kYiq, kGammaOn, 110, kIntensity, 1009984320448358392u, 3621668349618300335u},
        {kYuv, kGammaOff, 120, kSaturation, 9828381155665077240u, 15729777966146460900u},
        {kYiq, kGammaOff, 100, kToBlack, 0, 0},
        {kYuv, kGammaOn, 100, kIntensity, 0, 0},
        {kYiq, kGammaOn, 100, kSaturation, 0, 0},
    };
    struct Picture {
        Image img;
        int32_t srcPad, dstPad;
    };
    const Picture pictures[] = {{testCard(), 3, 3},          {saturatedPicture(), 3, 3},
                                {randomPicture(1, 1), 0, 0}, {randomPicture(1, 1), 3, 5},
                                {randomPicture(3, 5), 1, 2}, {randomPicture(7, 2), 4, 0},
                                {randomPicture(2, 31), 0, 3}};
    Image montage(2 * 320, 3 * 240);
    TestHost host;
    for (size_t row = 0; row < std::size(kSettings); ++row) {
        const Setting& s = kSettings[row];
        for (size_t col = 0; col < std::size(pictures); ++col) {
            const auto& [src, srcPad, dstPad] = pictures[col];
            SCOPED_TRACE(describe(s.ntsc, s.gamma, s.maxIRE, s.fix) + " picture " + std::to_string(col));
            TestInstance inst(host);
            inst.config(hotArgs(s.ntsc, s.gamma, s.fix));
            inst.settings().maxIRE = s.maxIRE;
            inst.setSource(src, srcPad);
            inst.param(dstPad);
            ASSERT_EQ(std::pair(inst.dst().w, inst.dst().h), std::pair(src.w, src.h));
            EXPECT_EQ(inst.run(), 0);
            const Image out = inst.output();
            for (size_t i = 0; i < src.px.size(); ++i)
                ASSERT_EQ(out.px[i], hotPixelTest(inst.state(), src.px[i]))
                    << "at " << i % src.w << "," << i / src.w;
            EXPECT_TRUE(inst.outputPaddingIntact() && inst.sourcePaddingIntact());
            if (col >= 2 || s.card == 0) continue;  // not a golden output
            EXPECT_EQ(hashImage(out), col ? s.saturated : s.card);
            for (int32_t y = 0; y < out.h; ++y)
                std::copy_n(out.px.begin() + y * out.w, out.w, &montage.at(col * out.w, row * out.h + y));
        }
    }
    if (const char* update = std::getenv("KIVREL_UPDATE_GOLDEN"); update && std::string(update) == "1")
        EXPECT_TRUE(writePng(std::string(KIVREL_GOLDEN_DIR) + "/hotpixel.png", montage));
}

}  // namespace
