#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "draw/text.h"
#include "modes/histograms.h"
#include "support/test_host.h"

namespace {

constexpr uint32_t kAmber = 0xFFFFB700;  // graticule fills keep the opacity byte
constexpr uint32_t kBarColour[kChannelCount] = {0xFFCCCCCC, 0xFFCC0000, 0xFF00CC00, 0xFF0000CC};
constexpr int32_t kWidth = 360;
constexpr int32_t kHeight = 570;

// "Config" argument positions.
constexpr int kArgAccum = 2;
constexpr int kArgFullRange = 6;  // 1 "0-255", 0 "16-235"
constexpr int kArgLuma = 7;       // luma, red, green, blue follow in that order

using Switches = std::array<int, kChannelCount>;
constexpr Switches kAll = {1, 1, 1, 1};
using Bars = std::vector<std::pair<int, int>>;  // level, height in rows (or pixel count)

std::string describe(const Switches& on) {
    return "luma/R/G/B " + std::to_string(on[0]) + std::to_string(on[1]) +
           std::to_string(on[2]) + std::to_string(on[3]);
}

ConfigArgs histogramArgs(const Switches& on, bool fullRange, bool accum = false) {
    ConfigArgs a = defaultArgs(DisplayMode::Histograms);
    a[kArgAccum] = accum;
    a[kArgFullRange] = fullRange;
    for (int c = 0; c < kChannelCount; ++c) a[kArgLuma + c] = on[c];
    return a;
}

// Grey pixels in canvas order: `count` pixels of `level` per run.
Image greyFrame(int32_t w, int32_t h, const Bars& levelRuns) {
    Image img(w, h);
    size_t i = 0;
    for (auto [level, count] : levelRuns)
        for (int k = 0; k < count; ++k) img.px.at(i++) = static_cast<uint32_t>(level) * 0x010101u;
    EXPECT_EQ(i, img.px.size());
    return img;
}

struct PanelExpectation {
    int channel;
    int32_t top;  // first row of the top border
    int32_t end;  // first row below the bottom border
    Bars bars;
    const char* min;
    const char* max;
    // Bars left from earlier frames under accumulation: the graticule of the
    // current frame is drawn over them.
    Bars earlier = {};
};

// Quarter, half and three-quarter rows below the plot's first row.
std::array<int32_t, 3> gridRows(int32_t plotRows) {
    switch (plotRows) {
    case 504: return {126, 252, 378};
    case 252: return {63, 126, 189};
    case 168: return {42, 84, 126};
    case 126: return {31, 63, 94};
    default: ADD_FAILURE() << "no grid rows for P = " << plotRows; return {};
    }
}

// The whole output as the display is described: text inked by drawText on a
// black canvas, graticule and bars painted pixel by pixel. A null title
// leaves the title band unchecked (copied from `actual`).
Image expectedOutput(const Image& actual, const char* title, int32_t plotRows,
                     const std::vector<PanelExpectation>& panels) {
    StoredFrame canvas(kWidth, kHeight);
    const Frame f = canvas.frame();
    if (title != nullptr) drawText(f, 50, 10, title, kAmber);
    for (const PanelExpectation& p : panels) {
        drawText(f, 10, p.end - 60, "Min", kAmber);
        drawText(f, 10, p.end - 50, p.min, kAmber);
        drawText(f, 320, p.end - 60, "Max", kAmber);
        drawText(f, 320, p.end - 50, p.max, kAmber);
    }
    Image img = canvas.image();
    if (title == nullptr)
        for (int32_t y = 0; y < 20; ++y)
            for (int32_t x = 0; x < kWidth; ++x) img.at(x, y) = actual.at(x, y);
    const std::array<int32_t, 3> grid = gridRows(plotRows);
    for (const PanelExpectation& p : panels) {
        std::array<int, kLevels> height{};
        std::array<int, kLevels> earlierHeight{};
        for (auto [level, h] : p.bars) height[level] = h;
        for (auto [level, h] : p.earlier) earlierHeight[level] = h;
        for (int32_t y = p.top; y < p.top + plotRows + 4; ++y) {
            const int32_t row = y - (p.top + 2);  // row in the plot area
            for (int32_t x = 50; x < 310; ++x) {
                const int v = x - 52;
                uint32_t c = 0;
                if (row < 0 || row >= plotRows || x < 52 || x >= 308) c = kAmber;  // borders
                else if (plotRows - row <= height[v]) c = kBarColour[p.channel];
                else if (row == grid[0] || row == grid[1] || row == grid[2] || v == 16 || v == 235)
                    c = kAmber;
                else if (plotRows - row <= earlierHeight[v]) c = kBarColour[p.channel];
                img.at(x, y) = c;
            }
        }
    }
    return img;
}

::testing::AssertionResult sameImage(const Image& actual, const Image& expected) {
    if (actual.w != expected.w || actual.h != expected.h)
        return ::testing::AssertionFailure() << "size " << actual.w << "x" << actual.h;
    int differing = 0;
    char first[64] = "";
    for (int32_t y = 0; y < actual.h; ++y)
        for (int32_t x = 0; x < actual.w; ++x)
            if (actual.at(x, y) != expected.at(x, y) && differing++ == 0)
                std::snprintf(first, sizeof first, "(%d, %d): got %08X, want %08X", x, y,
                              actual.at(x, y), expected.at(x, y));
    if (differing == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << differing << " pixels differ, first at " << first;
}

void expectOutput(const Image& out, const char* title, int32_t plotRows,
                  const std::vector<PanelExpectation>& panels) {
    EXPECT_TRUE(sameImage(out, expectedOutput(out, title, plotRows, panels)));
}

void clearOutput(TestInstance& inst) {
    const Frame f = inst.outputFrame().frame();
    for (int32_t y = 0; y < f.h; ++y)
        for (int32_t x = 0; x < f.w; ++x) f.canvasRow(y)[x] = 0;
}

Bars fullBar(int level, int32_t plotRows) { return {{level, plotRows}}; }

// All four channels on: P = 126 and the panels 20 -> 150, 157 -> 287,
// 294 -> 424, 431 -> 561, here with the same bars and labels in each.
std::vector<PanelExpectation> fourPanels(const Bars& bars, const char* min, const char* max) {
    constexpr int32_t kTops[kChannelCount] = {20, 157, 294, 431};
    std::vector<PanelExpectation> panels;
    for (int c = 0; c < kChannelCount; ++c)
        panels.push_back({c, kTops[c], kTops[c] + 130, bars, min, max});
    return panels;
}

}  // namespace

TEST(Histograms, PreparationResetsChannelsAndSplitsThePlotRows) {
    TestHost host;
    // Channels switched on -> panelHeight: 504 rows shared, 504 when none.
    const std::pair<Switches, int32_t> cases[] = {
        {{0, 0, 0, 0}, 504}, {{0, 0, 1, 0}, 504}, {{1, 0, 0, 1}, 252},
        {{0, 1, 1, 1}, 168}, {{1, 1, 1, 1}, 126},
    };
    for (const auto& [on, plotRows] : cases) {
        SCOPED_TRACE(describe(on));
        TestInstance inst(host);
        inst.config(histogramArgs(on, true));
        inst.setSource(Image(7, 3));
        EXPECT_EQ(inst.param(0), 1);
        EXPECT_EQ(inst.dst().w, 360);
        EXPECT_EQ(inst.dst().h, 570);
        EXPECT_EQ(inst.dst().pitch, 1440);
        const ScopeInstance& s = inst.state();
        EXPECT_EQ(s.panelHeight, plotRows);
        for (int c = 0; c < kChannelCount; ++c) {
            EXPECT_EQ(s.histogram[c].barColour, kBarColour[c]);
            EXPECT_EQ(s.histogram[c].minLevel, 255);
            EXPECT_EQ(s.histogram[c].maxLevel, -1);
        }
    }
}

TEST(Histograms, PanelPositionsByChannelSet) {
    // Pure red, "0-255" and "Std Def (601)": luma 81, red 255, green 0, blue 0.
    // 600 pixels fill every panel to the top whatever P.
    const Image red(30, 20, 0x00FF0000);
    struct Layout {
        Switches on;
        int32_t plotRows;
        const char* title;
        std::vector<std::array<int32_t, 3>> panels;  // channel, top, end
    };
    const Layout layouts[] = {
        {{0, 0, 0, 0}, 504, "AVD: 81   Scale: 0.0 ", {}},
        {{1, 0, 0, 0}, 504, "AVD: 81   Scale: 1.0 ", {{kLuma, 20, 528}}},
        {{0, 1, 0, 0}, 504, "AVD: 81   Scale: 1.0 ", {{kRed, 27, 535}}},
        {{0, 0, 1, 0}, 504, "AVD: 81   Scale: 1.0 ", {{kGreen, 27, 535}}},
        {{0, 0, 0, 1}, 504, "AVD: 81   Scale: 1.0 ", {{kBlue, 27, 535}}},
        {{1, 0, 0, 1}, 252, "AVD: 81   Scale: 2.0 ", {{kLuma, 20, 276}, {kBlue, 283, 539}}},
        {{0, 1, 1, 1}, 168, "AVD: 81   Scale: 3.0 ",
         {{kRed, 27, 199}, {kGreen, 206, 378}, {kBlue, 385, 557}}},
        {{1, 1, 1, 1}, 126, "AVD: 81   Scale: 4.0 ",
         {{kLuma, 20, 150}, {kRed, 157, 287}, {kGreen, 294, 424}, {kBlue, 431, 561}}},
    };
    constexpr int kLevelOf[kChannelCount] = {81, 255, 0, 0};
    constexpr const char* kLevelText[kChannelCount] = {"81", "255", "0", "0"};
    TestHost host;
    for (const Layout& l : layouts) {
        SCOPED_TRACE(describe(l.on));
        TestInstance inst(host);
        const Image out = inst.render(histogramArgs(l.on, true), red);
        EXPECT_TRUE(inst.outputPaddingIntact());
        std::vector<PanelExpectation> panels;
        for (const auto& [c, top, end] : l.panels)
            panels.push_back({c, top, end, fullBar(kLevelOf[c], l.plotRows), kLevelText[c],
                              kLevelText[c]});
        expectOutput(out, l.title, l.plotRows, panels);
        if (!l.on[kLuma] && !l.panels.empty()) {
            EXPECT_EQ(out.at(50, 26), 0u);  // without luma the first border is at 27
            EXPECT_EQ(out.at(50, 27), kAmber);
        }
    }
}

TEST(Histograms, EdgeCasesOfCountsAndScale) {
    struct Case {
        const char* name;
        Image src;
        bool fullRange;
        const char* title;
        Bars bars;  // the same in all four panels (grey input)
        const char* min;
        const char* max;
    };
    const Case cases[] = {
        // Fewer than P pixels at the peak: scale 0, bars as tall as their counts.
        {"scale 0", greyFrame(5, 4, {{30, 10}, {90, 7}, {240, 3}}), false, "AVD: 82   Scale: 0.0 ",
         {{30, 10}, {90, 7}, {240, 3}}, "30", "240"},
        // 882 black pixels, black at 16: 882 / 126 = 7, so every bar is exactly full.
        {"882 black", Image(42, 21, 0), true, "AVD: 16   Scale: 7.0 ", {}, nullptr, nullptr},
        // 2 pixels at 10 and 1 at 250 fall below the divisor 3: not Min, not Max.
        {"below divisor", greyFrame(31, 13, {{10, 2}, {250, 1}, {100, 400}}), false,
         "AVD: 99   Scale: 3.0 ", {{100, 126}}, "100", "100"},
        // Uniform studio grey: one full bar per channel at the level.
        {"uniform", Image(16, 16, 0x00C8C8C8), false, "AVD: 200   Scale: 2.0 ", {{200, 126}},
         "200", "200"},
    };
    TestHost host;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TestInstance inst(host);
        const Image out = inst.render(histogramArgs(kAll, k.fullRange), k.src);
        std::vector<PanelExpectation> panels = fourPanels(k.bars, k.min, k.max);
        if (k.min == nullptr) {  // the black frame: luma 16, colour channels 0
            panels = fourPanels(fullBar(0, 126), "0", "0");
            panels[kLuma] = {kLuma, 20, 150, fullBar(16, 126), "16", "16"};
        }
        expectOutput(out, k.title, 126, panels);
    }
}

TEST(Histograms, ChannelBelowTheDivisorShowsMinusOneAndAccumulationKeepsIt) {
    // Red and green pile 2560 pixels on level 0 (divisor 2560 / 168 = 15);
    // blue spreads 10 pixels over every level: no blue bar at all.
    Image spread(64, 40);
    for (size_t i = 0; i < spread.px.size(); ++i) spread.px[i] = static_cast<uint32_t>(i % 256);
    const Image blue7(64, 40, 0x00000007);
    TestHost host;
    TestInstance inst(host);
    inst.config(histogramArgs({0, 1, 1, 1}, false, /*accum*/ true));
    inst.setSource(spread);
    inst.param();
    clearOutput(inst);  // accumulation draws over whatever the host hands over
    inst.run();
    std::vector<PanelExpectation> panels = {
        {kRed, 27, 199, fullBar(0, 168), "0", "0"},
        {kGreen, 206, 378, fullBar(0, 168), "0", "0"},
        {kBlue, 385, 557, {}, "-1", "-1"},
    };
    expectOutput(inst.output(), nullptr, 168, panels);

    // A blue frame after it: Max follows, Min stays -1 until the next preparation.
    inst.setSource(blue7);
    inst.run();
    panels[2] = {kBlue, 385, 557, fullBar(7, 168), "-1", "7"};
    expectOutput(inst.output(), "AVD: 0   Scale: 15.0 ", 168, panels);
    EXPECT_TRUE(inst.outputPaddingIntact());

    inst.param();
    EXPECT_EQ(inst.state().histogram[kBlue].minLevel, 255);
    inst.run();
    EXPECT_EQ(inst.state().histogram[kBlue].minLevel, 7);
    EXPECT_EQ(inst.state().histogram[kBlue].maxLevel, 7);
}

TEST(Histograms, AccumulationKeepsEarlierBarsAndExtremes) {
    const Image grey50(20, 20, 0x00323232);
    const Image grey200(20, 20, 0x00C8C8C8);
    TestHost host;
    for (bool accum : {false, true}) {
        SCOPED_TRACE(accum ? "accum on" : "accum off");
        TestInstance inst(host);
        inst.config(histogramArgs(kAll, false, accum));
        inst.setSource(grey50);
        inst.param();
        clearOutput(inst);
        inst.run();
        inst.setSource(grey200);
        inst.run();
        // 400 pixels: scale 3, 133 rows clamped to 126.
        std::vector<PanelExpectation> panels = fourPanels(fullBar(200, 126), "200", "200");
        if (accum) {
            for (PanelExpectation& p : panels) {
                p.min = "50";
                p.earlier = fullBar(50, 126);
            }
        }
        // The title band and value boxes are cleared every frame: no overprint.
        expectOutput(inst.output(), "AVD: 200   Scale: 3.0 ", 126, panels);
    }
}

TEST(Histograms, NoChannelShowsOnlyTheTitle) {
    TestHost host;
    TestInstance inst(host);
    // Luma is counted whatever the switches: studio grey 100 averages 100.
    const Image out = inst.render(histogramArgs({0, 0, 0, 0}, false), Image(3, 3, 0x00646464));
    expectOutput(out, "AVD: 100   Scale: 0.0 ", 504, {});
    EXPECT_EQ(inst.state().lumaSum, 900);
}

TEST(Histograms, FramesWithoutPixelsAverageZero) {
    TestHost host;
    for (const Image& src : {Image(0, 4), Image(5, 0), Image(0, 0)}) {
        SCOPED_TRACE(testing::Message() << src.w << "x" << src.h);
        TestInstance inst(host);
        const Image out = inst.render(histogramArgs(kAll, true), src);
        expectOutput(out, "AVD: 0   Scale: 0.0 ", 126, fourPanels({}, "-1", "-1"));
        EXPECT_TRUE(inst.outputPaddingIntact());
    }
}

TEST(Histograms, AverageOfBigFramesDoesNotOverflow) {
    // 4096 x 2160 white: the luma sum passes 2^31 at level 255.
    const StoredFrame white(4096, 2160, 1, 0x00FFFFFF);
    const std::pair<bool, const char*> cases[] = {
        {false, "AVD: 255   Scale: 70217.0 "},  // "16-235": white stays 255
        {true, "AVD: 235   Scale: 70217.0 "},   // "0-255": white becomes 235
    };
    TestHost host;
    for (const auto& [fullRange, title] : cases) {
        SCOPED_TRACE(title);
        TestInstance inst(host);
        inst.render(histogramArgs(kAll, fullRange), Image(1, 1));
        renderHistograms(inst.state(), white.constFrame(), inst.outputFrame().frame());
        EXPECT_EQ(inst.state().lumaSum, (fullRange ? 235LL : 255LL) * 4096 * 2160);
        const int level = fullRange ? 235 : 255;
        const char* text = fullRange ? "235" : "255";
        std::vector<PanelExpectation> panels = fourPanels(fullBar(255, 126), "255", "255");
        panels[kLuma] = {kLuma, 20, 150, fullBar(level, 126), text, text};
        expectOutput(inst.output(), title, 126, panels);
    }
}

TEST(Histograms, CountsEveryPixelOfOddPaddedAndTallSources) {
    struct Source {
        int32_t w, h, pad;
    };
    const Source sources[] = {{1, 1, 0}, {321, 7, 0}, {5, 3, 9}, {1, 3000, 2}, {1000, 1, 1}};
    TestHost host;
    for (const Source& s : sources) {
        SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " pad " << s.pad);
        Image src(s.w, s.h);
        std::array<uint32_t, kLevels> tally{};
        int64_t sum = 0;
        for (int32_t y = 0; y < s.h; ++y) {
            for (int32_t x = 0; x < s.w; ++x) {
                const int v = (x * 7 + y * 13) % 256;
                src.at(x, y) = static_cast<uint32_t>(v) * 0x010101u;
                ++tally[v];
                sum += v;  // studio grey keeps its level as luma
            }
        }
        TestInstance inst(host);
        inst.config(histogramArgs(kAll, false));
        inst.setSource(src, s.pad);
        inst.param();
        EXPECT_EQ(inst.run(), 0);
        const ScopeInstance& state = inst.state();
        for (int c = 0; c < kChannelCount; ++c)
            for (int v = 0; v < kLevels; ++v)
                ASSERT_EQ(state.histogram[c].counts[v], tally[v])
                    << "channel " << c << " level " << v;
        EXPECT_EQ(state.lumaSum, sum);
        EXPECT_TRUE(inst.sourcePaddingIntact());
        EXPECT_TRUE(inst.outputPaddingIntact());
    }
}

TEST(Histograms, StaysInsideAnyOutputFrame) {
    TestHost host;
    TestInstance inst(host);
    const Image card = testCard(37, 23);
    const Image full = inst.render(defaultArgs(DisplayMode::Histograms), card);
    const StoredFrame src(card, 3);
    const std::pair<int32_t, int32_t> sizes[] = {{0, 0},     {1, 1},     {7, 5},   {359, 569},
                                                 {361, 571}, {40, 900}, {632, 632}};
    for (auto [w, h] : sizes) {
        SCOPED_TRACE(testing::Message() << "output " << w << "x" << h);
        StoredFrame dst(w, h, 3, 0x12345678);
        renderHistograms(inst.state(), src.constFrame(), dst.frame());
        EXPECT_TRUE(dst.paddingIntact());
        // Drawing is anchored at the top left: the standard output cropped,
        // and cleared wherever it does not reach.
        Image want(w, h);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x)
                want.at(x, y) = x < kWidth && y < kHeight ? full.at(x, y) : 0;
        EXPECT_TRUE(sameImage(dst.image(), want));
    }
}

TEST(Histograms, SurvivesPanelHeightsNoPreparationSets) {
    TestHost host;
    // A script switches from the waveform to the histograms without a new
    // parameter stage: its panel height (128) and output size (360 x 562) stay.
    TestInstance inst(host);
    inst.config(defaultArgs(DisplayMode::Waveform));
    inst.setSource(testCard());
    inst.param();
    inst.config(defaultArgs(DisplayMode::Histograms));
    EXPECT_EQ(inst.run(), 0);
    EXPECT_TRUE(inst.outputPaddingIntact());

    inst.render(defaultArgs(DisplayMode::Histograms), testCard(9, 7));
    for (int32_t p : {0, -7, INT32_MIN, 100000, INT32_MAX}) {
        SCOPED_TRACE(testing::Message() << "panelHeight " << p);
        inst.state().panelHeight = p;
        EXPECT_EQ(inst.run(), 0);
        EXPECT_TRUE(inst.outputPaddingIntact());
    }
}

TEST(Histograms, GoldenTestCard) {
    TestHost host;
    TestInstance inst(host);
    const Image out = inst.render(defaultArgs(DisplayMode::Histograms), testCard());
    if (std::getenv("KIVREL_UPDATE_GOLDEN") != nullptr)
        EXPECT_TRUE(writePng(std::string(KIVREL_GOLDEN_DIR) + "/histograms.png", out));
    EXPECT_EQ(hashImage(out), 0x50c7b683b39c8dbbull) << "0x" << std::hex << hashImage(out);
}

TEST(Histograms, KnownLevelDistribution) {
    // Level v present v times (1..255), studio grey: peak 255, scale 2, so
    // bars rise by one row every two levels up to the top at 252, and the
    // single pixel at level 1 stays below Min.
    Bars runs;
    for (int v = 1; v < kLevels; ++v) runs.push_back({v, v});
    TestHost host;
    TestInstance inst(host);
    const Image out = inst.render(histogramArgs(kAll, false), greyFrame(255, 128, runs));
    Bars bars;
    for (int v = 1; v < kLevels; ++v) bars.push_back({v, std::min(v / 2, 126)});
    // Sum of v^2 over 1..255 is 5559680, over 32640 pixels: 170.
    expectOutput(out, "AVD: 170   Scale: 2.0 ", 126, fourPanels(bars, "2", "255"));
    EXPECT_EQ(out.at(52 + 1, 147), 0u);              // level 1: no bar on the bottom row
    EXPECT_EQ(out.at(52 + 101, 97), 0u);             // level 101: 50 rows, 98..147
    EXPECT_EQ(out.at(52 + 101, 98), kBarColour[kLuma]);
    EXPECT_EQ(out.at(52 + 252, 22), kBarColour[kLuma]);  // full height from level 252
    EXPECT_EQ(hashImage(out), 0x56b17efd28ca1c30ull) << "0x" << std::hex << hashImage(out);
}
