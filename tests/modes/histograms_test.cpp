#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "draw/text.h"
#include "modes/histograms.h"
#include "support/rng.h"
#include "support/test_host.h"

namespace {

constexpr uint32_t kAmber = 0xFFFFB700;  // graticule fills keep the opacity byte
constexpr uint32_t kBarColour[kChannelCount] = {0xFFCCCCCC, 0xFFCC0000, 0xFF00CC00, 0xFF0000CC};
constexpr int32_t kWidth = 360, kHeight = 570;
// "Config" argument positions; red, green and blue follow luma.
constexpr int kArgAccum = 2, kArgFullRange = 6 /* 1 "0-255" */, kArgLuma = 7;

using Switches = std::array<int, kChannelCount>;
constexpr Switches kAll = {1, 1, 1, 1};
using Bars = std::vector<std::pair<int, int>>;  // level, height in rows (or pixel count)

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

struct Panel {
    int channel;
    int32_t top, end;  // first row of the top border, first row below the bottom border
    Bars bars;
    std::string min, max;
    Bars earlier = {};  // bars of earlier frames, under the current graticule
};

// The output as the display is described: text inked by drawText on black,
// graticule and bars pixel by pixel.
Image expectedOutput(const char* title, int32_t p, const std::vector<Panel>& panels) {
    StoredFrame canvas(kWidth, kHeight);
    const Frame f = canvas.frame();
    drawText(f, 50, 10, title, kAmber);
    for (const Panel& q : panels) {
        drawText(f, 10, q.end - 60, "Min", kAmber);
        drawText(f, 10, q.end - 50, q.min.c_str(), kAmber);
        drawText(f, 320, q.end - 60, "Max", kAmber);
        drawText(f, 320, q.end - 50, q.max.c_str(), kAmber);
    }
    Image img = canvas.image();
    for (const Panel& q : panels) {
        std::array<int, kLevels> bar{}, earlier{};
        for (auto [v, h] : q.bars) bar[v] = h;
        for (auto [v, h] : q.earlier) earlier[v] = h;
        for (int32_t row = -2; row < p + 2; ++row) {  // counted from the plot's first row
            const bool gridRow = row == p / 4 || row == p / 2 || row == p * 3 / 4;
            for (int32_t v = -2; v < kLevels + 2; ++v) {  // level v in column 52 + v
                uint32_t& px = img.at(52 + v, q.top + 2 + row);
                if (row < 0 || row >= p || v < 0 || v >= kLevels)
                    px = kAmber;  // borders
                else if (p - row <= bar[v])
                    px = kBarColour[q.channel];
                else if (gridRow || v == 16 || v == 235)
                    px = kAmber;
                else
                    px = p - row <= earlier[v] ? kBarColour[q.channel] : 0;
            }
        }
    }
    return img;
}

void expectSame(const Image& out, const Image& want) {
    ASSERT_EQ(std::pair(out.w, out.h), std::pair(want.w, want.h));
    const auto [got, wanted] = std::mismatch(out.px.begin(), out.px.end(), want.px.begin());
    const auto i = got - out.px.begin();
    if (got != out.px.end())
        ADD_FAILURE() << "first difference at (" << i % out.w << ", " << i / out.w << "): got 0x" << std::hex
                      << *got << ", want 0x" << *wanted;
}

// All four channels on: P = 126, panels 20 -> 150, 157 -> 287, 294 -> 424, 431 -> 561.
std::vector<Panel> fourPanels(const Bars& bars, const std::string& min, const std::string& max) {
    std::vector<Panel> panels;
    for (int c = 0; c < kChannelCount; ++c)
        panels.push_back({c, 20 + 137 * c, 150 + 137 * c, bars, min, max});
    return panels;
}

// One full bar per panel: the colour channels at `level`, luma at `luma`.
std::vector<Panel> fullPanels(int level, int luma) {
    std::vector<Panel> panels = fourPanels({{level, 126}}, std::to_string(level), std::to_string(level));
    panels[kLuma].bars = {{luma, 126}};
    panels[kLuma].min = panels[kLuma].max = std::to_string(luma);
    return panels;
}

}  // namespace

TEST(Histograms, FramesAsDescribed) {
    // Pure red, "0-255": luma 81, red 255, green 0, blue 0; 600 pixels fill every panel.
    const Image red(30, 20, 0x00FF0000);
    auto redPanels = [](int32_t p, const std::vector<std::array<int32_t, 3>>& at) {  // channel, top, end
        constexpr int kLevelOf[kChannelCount] = {81, 255, 0, 0};
        std::vector<Panel> panels;
        for (auto [c, top, end] : at) {
            const std::string text = std::to_string(kLevelOf[c]);
            panels.push_back({c, top, end, {{kLevelOf[c], p}}, text, text});
        }
        return panels;
    };
    Bars ramp, rampBars;  // level v present v times: peak 255, scale 2
    for (int v = 1; v < kLevels; ++v) {
        ramp.push_back({v, v});
        rampBars.push_back({v, std::min(v / 2, 126)});
    }
    // Red and green pile 2560 pixels on level 0 (divisor 2560 / 168 = 15); blue
    // spreads 10 pixels over every level, no bar: Min stays -1 until the preparation.
    Image spread(64, 40);
    for (size_t i = 0; i < spread.px.size(); ++i) spread.px[i] = static_cast<uint32_t>(i % 256);
    const std::vector<Panel> spreadThenBlue = {{kRed, 27, 199, {{0, 168}}, "0", "0"},
                                               {kGreen, 206, 378, {{0, 168}}, "0", "0"},
                                               {kBlue, 385, 557, {{7, 168}}, "-1", "7"}};
    std::vector<Panel> grey50Then200 = fullPanels(200, 200);
    for (Panel& p : grey50Then200) {
        p.min = "50";
        p.earlier = {{50, 126}};
    }
    const Image grey50(20, 20, 0x323232), grey200(20, 20, 0xC8C8C8);
    struct Case {
        const char* name;
        Switches on;
        bool fullRange, accum;
        std::vector<Image> frames;
        const char* title;
        int32_t plotRows;  // panelHeight: 504 shared by the panels, 504 when none
        std::vector<Panel> panels;
        uint64_t hash = 0;
    };
    const Case cases[] = {
        // Luma is counted whatever the switches.
        {"no channel", {0, 0, 0, 0}, true, false, {red}, "AVD: 81   Scale: 0.0 ", 504, {}},
        {"luma",
         {1, 0, 0, 0},
         true,
         false,
         {red},
         "AVD: 81   Scale: 1.0 ",
         504,
         redPanels(504, {{kLuma, 20, 528}})},
        // Without luma the first panel starts at row 27.
        {"red",
         {0, 1, 0, 0},
         true,
         false,
         {red},
         "AVD: 81   Scale: 1.0 ",
         504,
         redPanels(504, {{kRed, 27, 535}})},
        {"luma blue",
         {1, 0, 0, 1},
         true,
         false,
         {red},
         "AVD: 81   Scale: 2.0 ",
         252,
         redPanels(252, {{kLuma, 20, 276}, {kBlue, 283, 539}})},
        {"rgb",
         {0, 1, 1, 1},
         true,
         false,
         {red},
         "AVD: 81   Scale: 3.0 ",
         168,
         redPanels(168, {{kRed, 27, 199}, {kGreen, 206, 378}, {kBlue, 385, 557}})},
        {"all",
         kAll,
         true,
         false,
         {red},
         "AVD: 81   Scale: 4.0 ",
         126,
         redPanels(126, {{kLuma, 20, 150}, {kRed, 157, 287}, {kGreen, 294, 424}, {kBlue, 431, 561}})},
        // Fewer than P pixels at the peak: scale 0, bars as tall as their counts.
        {"scale 0",
         kAll,
         false,
         false,
         {greyFrame(5, 4, {{30, 10}, {90, 7}, {240, 3}})},
         "AVD: 82   Scale: 0.0 ",
         126,
         fourPanels({{30, 10}, {90, 7}, {240, 3}}, "30", "240")},
        // 882 black pixels, black at 16: 882 / 126 = 7, so every bar is exactly full.
        {"882 black", kAll, true, false, {Image(42, 21, 0)}, "AVD: 16   Scale: 7.0 ", 126, fullPanels(0, 16)},
        // 2 pixels at 10 and 1 at 250 fall below the divisor 3: not Min, not Max.
        {"below divisor",
         kAll,
         false,
         false,
         {greyFrame(31, 13, {{10, 2}, {250, 1}, {100, 400}})},
         "AVD: 99   Scale: 3.0 ",
         126,
         fullPanels(100, 100)},
        {"uniform",
         kAll,
         false,
         false,
         {Image(16, 16, 0xC8C8C8)},
         "AVD: 200   Scale: 2.0 ",
         126,
         fullPanels(200, 200)},
        // 4096 x 2160 white: the luma sum passes 2^31.
        {"big white",
         kAll,
         false,
         false,
         {Image(4096, 2160, 0xFFFFFF)},
         "AVD: 255   Scale: 70217.0 ",
         126,
         fullPanels(255, 255)},
        // A frame without pixels has no average.
        {"0x4", kAll, true, false, {Image(0, 4)}, "AVD: 0   Scale: 0.0 ", 126, fourPanels({}, "-1", "-1")},
        {"5x0", kAll, true, false, {Image(5, 0)}, "AVD: 0   Scale: 0.0 ", 126, fourPanels({}, "-1", "-1")},
        {"0x0", kAll, true, false, {Image(0, 0)}, "AVD: 0   Scale: 0.0 ", 126, fourPanels({}, "-1", "-1")},
        // The single pixel at level 1 stays below Min; sum of v^2 over 32640 pixels: 170.
        {"known levels",
         kAll,
         false,
         false,
         {greyFrame(255, 128, ramp)},
         "AVD: 170   Scale: 2.0 ",
         126,
         fourPanels(rampBars, "2", "255"),
         0x56b17efd28ca1c30ull},
        {"accum below divisor",
         {0, 1, 1, 1},
         false,
         true,
         {spread, Image(64, 40, 7)},
         "AVD: 0   Scale: 15.0 ",
         168,
         spreadThenBlue},
        // 400 pixels: scale 3, 133 rows clamped to 126. Title and value boxes never overprint.
        {"no accum",
         kAll,
         false,
         false,
         {grey50, grey200},
         "AVD: 200   Scale: 3.0 ",
         126,
         fullPanels(200, 200)},
        {"accum", kAll, false, true, {grey50, grey200}, "AVD: 200   Scale: 3.0 ", 126, grey50Then200},
    };
    TestHost host;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        TestInstance inst(host);
        inst.config(histogramArgs(k.on, k.fullRange, k.accum));
        inst.setSource(k.frames[0], 5);
        EXPECT_EQ(inst.param(), 1);
        // 1440 bytes a row, and the host's 3 sentinel words.
        EXPECT_EQ(std::tuple(inst.dst().w, inst.dst().h, inst.dst().pitch), std::tuple(360, 570, 1440 + 12));
        EXPECT_EQ(inst.state().panelHeight, k.plotRows);  // bar colours and the Min/Max reset show below
        const Frame f = inst.outputFrame().frame();       // accumulation draws over what the host hands over
        for (int32_t y = 0; y < f.h; ++y) std::fill_n(f.canvasRow(y), f.w, 0u);
        for (size_t i = 0; i < k.frames.size(); ++i) {
            if (i > 0) inst.setSource(k.frames[i], 5);
            EXPECT_EQ(inst.run(), 0);
        }
        const Image out = inst.output();
        expectSame(out, expectedOutput(k.title, k.plotRows, k.panels));
        EXPECT_TRUE(inst.outputPaddingIntact() && inst.sourcePaddingIntact());
        if (k.hash != 0) EXPECT_EQ(hashImage(out), k.hash) << "0x" << std::hex << hashImage(out);
        if (!k.accum) continue;
        inst.param();  // a new preparation starts Min and Max afresh
        inst.run();
        const int blue = static_cast<int>(k.frames.back().px[0] & 0xFF);
        EXPECT_EQ(std::pair(inst.state().histogram[kBlue].minLevel, inst.state().histogram[kBlue].maxLevel),
                  std::pair(blue, blue));
    }
}

TEST(Histograms, CountsEveryPixelOfOddPaddedAndTallSources) {
    TestHost host;
    for (auto [w, h] : {std::pair(1, 1), {321, 7}, {5, 3}, {1, 3000}, {1000, 1}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        Image src(w, h);
        std::array<uint32_t, kLevels> tally{};
        int64_t sum = 0;  // studio grey keeps its level as luma
        TestRng rng{0x2545F491u};
        for (uint32_t& px : src.px) {
            const uint32_t v = rng.next() & 0xFF;
            px = v * 0x010101u;
            ++tally[v];
            sum += v;
        }
        TestInstance inst(host);
        inst.render(histogramArgs(kAll, false), src);
        for (int c = 0; c < kChannelCount; ++c)
            EXPECT_TRUE(std::equal(tally.begin(), tally.end(), inst.state().histogram[c].counts))
                << "channel " << c;
        EXPECT_EQ(inst.state().lumaSum, sum);
        EXPECT_TRUE(inst.sourcePaddingIntact() && inst.outputPaddingIntact());
    }
}

TEST(Histograms, StaysInsideAnyOutputFrameAndPanelHeight) {
    TestHost host;
    TestInstance inst(host);
    const Image card = testCard(37, 23);
    const Image full = inst.render(defaultArgs(DisplayMode::Histograms), card);
    const StoredFrame src(card, 3);
    for (auto [w, h] : {std::pair(0, 0), {1, 1}, {7, 5}, {359, 569}, {361, 571}, {40, 900}, {632, 632}}) {
        SCOPED_TRACE(testing::Message() << "output " << w << "x" << h);
        StoredFrame dst(w, h, 3, 0x12345678);
        renderHistograms(inst.state(), src.constFrame(), dst.frame(), machineSimdLevel());
        EXPECT_TRUE(dst.paddingIntact());
        // Anchored at the top left: the standard output cropped, cleared beyond it.
        Image want(w, h);
        for (int32_t y = 0; y < std::min(h, kHeight); ++y)
            for (int32_t x = 0; x < std::min(w, kWidth); ++x) want.at(x, y) = full.at(x, y);
        expectSame(dst.image(), want);
    }
    // Panel heights no preparation of this display sets: a script switching from
    // the waveform without a parameter stage leaves 128 and a 360 x 562 output.
    StoredFrame dst(360, 562, 3);
    for (int32_t p : {128, 0, -7, INT32_MIN, 100000, INT32_MAX}) {
        SCOPED_TRACE(testing::Message() << "panelHeight " << p);
        inst.state().panelHeight = p;
        EXPECT_EQ(renderHistograms(inst.state(), src.constFrame(), dst.frame(), machineSimdLevel()), 0);
        EXPECT_TRUE(dst.paddingIntact());
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
