#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "modes/display_table.h"
#include "params/luma.h"
#include "support/test_host.h"

namespace {

struct LumaCase {
    const char* name;
    uint8_t rng255;
    uint8_t stdDef;
};
constexpr LumaCase kLumaCases[] = {
    {"0-255 / 601", 1, 1},
    {"0-255 / 709", 1, 0},
    {"16-235 / 601", 0, 1},
    {"16-235 / 709", 0, 0},
};

ScopeInstance prepared(uint8_t rng255, uint8_t stdDef, DisplayMode mode = DisplayMode::Video, int32_t w = 64,
                       int32_t h = 48) {
    ScopeInstance inst{};
    inst.settings = kDefaultSettings;
    inst.settings.rng255 = rng255;
    inst.settings.stdDef = stdDef;
    inst.settings.mode = static_cast<int32_t>(mode);
    OutputGeometry g{w, h, 4 * static_cast<ptrdiff_t>(w)};
    prepareDisplay(inst, g);
    return inst;
}

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r << 16 | g << 8 | b; }

}  // namespace

TEST(LumaTables, StudioRangeSetsKeepEveryGreyLevel) {
    for (uint8_t stdDef : {1, 0}) {
        SCOPED_TRACE(stdDef ? "16-235 / 601" : "16-235 / 709");
        const ScopeInstance inst = prepared(0, stdDef);
        EXPECT_EQ(inst.lumaOffset, 0);
        for (uint32_t v = 0; v < 256; ++v)
            EXPECT_EQ(lumaOf(inst, v * 0x010101u), int32_t(v)) << "level " << v;
    }
}

TEST(LumaTables, Rec601WithoutTheAddedOneLosesTheListedLevels) {
    // The rounded 601 entries sum to just below v * 2^24 for exactly these levels.
    const std::vector<uint32_t> expected = {4,   23,  28,  47,  52,  71,  76,  95,  100, 119, 124, 129,
                                            148, 153, 172, 177, 196, 201, 220, 225, 244, 249, 254};
    const ScopeInstance inst = prepared(0, 1);
    std::vector<uint32_t> low;
    for (uint32_t v = 0; v < 256; ++v)
        if ((lumaWeightSum(inst, v * 0x010101u) >> kLumaShift) != v) low.push_back(v);
    EXPECT_EQ(low, expected);
}

TEST(LumaTables, PrimariesBlackAndWhitePerSet) {
    struct Expect {
        int32_t black, white, red, green, blue;
    };
    const Expect expected[] = {
        {16, 235, 81, 144, 40},  // 0-255 / 601: full range into studio levels
        {16, 234, 62, 172, 31},  // 0-255 / 709: white lands one below 235
        {0, 255, 76, 149, 29},   // 16-235 / 601: the standard's own weights
        {0, 255, 54, 182, 18},   // 16-235 / 709
    };
    for (size_t i = 0; i < std::size(kLumaCases); ++i) {
        const LumaCase& c = kLumaCases[i];
        SCOPED_TRACE(c.name);
        const ScopeInstance inst = prepared(c.rng255, c.stdDef);
        EXPECT_EQ(lumaOf(inst, 0), expected[i].black);
        EXPECT_EQ(lumaOf(inst, 0xFFFFFF), expected[i].white);
        EXPECT_EQ(lumaOf(inst, rgb(255, 0, 0)), expected[i].red);
        EXPECT_EQ(lumaOf(inst, rgb(0, 255, 0)), expected[i].green);
        EXPECT_EQ(lumaOf(inst, rgb(0, 0, 255)), expected[i].blue);
    }
}

TEST(LumaTables, EntriesAreRoundedProductsAboveTwoToThe31) {
    const ScopeInstance inst = prepared(0, 1);
    EXPECT_EQ(inst.weightTable[1][255], 2511297577u);  // 0.587 * 255 * 2^24, rounded
    EXPECT_EQ(inst.weightTable[0][0], 0u);
    // The sum with the added 1 never exceeds 255 * 2^24 + 1 for any set.
    for (const LumaCase& c : kLumaCases) {
        SCOPED_TRACE(c.name);
        const ScopeInstance t = prepared(c.rng255, c.stdDef);
        const uint64_t peak =
            uint64_t(t.weightTable[0][255]) + t.weightTable[1][255] + t.weightTable[2][255] + 1;
        EXPECT_LE(peak, 4278190081ull);
    }
}

TEST(ParamStage, OutputGeometryPerDisplay) {
    struct Case {
        DisplayMode mode;
        int32_t w, h;
        ptrdiff_t pitch;
    };
    // From a 321 x 200 source presented with pitch 1300.
    const Case cases[] = {
        {DisplayMode::Histograms, 360, 570, 1440},
        {DisplayMode::HotPixel, 321, 200, 1300},
        {DisplayMode::Video, 321, 200, 1300},
        {DisplayMode::Waveform, 361, 562, 1444},  // pitch 4 * w, not rounded up
        {DisplayMode::Vectorscope, 632, 632, 2528},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        ScopeInstance inst{};
        inst.settings = kDefaultSettings;
        inst.settings.mode = static_cast<int32_t>(c.mode);
        OutputGeometry g{321, 200, 1300};
        prepareDisplay(inst, g);
        EXPECT_EQ(g.w, c.w);
        EXPECT_EQ(g.h, c.h);
        EXPECT_EQ(g.pitch, c.pitch);
    }
}

// The geometry depends on how many channels are on, not which: every mask
// with the same count gets the same panels, all of them fit the output, and
// more channels never get taller panels. (The heights themselves are the
// waveform test's, measured off the rendered graticule.)
TEST(ParamStage, WaveformHeightFollowsTheChannelCount) {
    constexpr int kMasks = 1 << kChannelCount;
    std::array<std::optional<std::pair<int32_t, int32_t>>, kChannelCount + 1> byCount;  // height, panel
    for (int mask = 0; mask < kMasks; ++mask) {
        SCOPED_TRACE("channel mask " + std::to_string(mask));
        ScopeInstance inst{};
        inst.settings = kDefaultSettings;
        inst.settings.mode = static_cast<int32_t>(DisplayMode::Waveform);
        inst.settings.luma = mask & 1;
        inst.settings.red = (mask >> 1) & 1;
        inst.settings.green = (mask >> 2) & 1;
        inst.settings.blue = (mask >> 3) & 1;
        const int n = __builtin_popcount(static_cast<unsigned>(mask));
        const OutputGeometry source{10, 10, 40};
        OutputGeometry g = source;
        prepareDisplay(inst, g);
        EXPECT_EQ(inst.wfmChannelCount, n);
        EXPECT_GE(g.h, std::max(n, 1) * inst.panelHeight) << "the panels do not fit";
        EXPECT_GE(g.w, source.w) << "a picture column has no place";
        EXPECT_EQ(g.pitch, g.w * static_cast<int32_t>(sizeof(uint32_t)));
        auto& seen = byCount[static_cast<size_t>(n)];
        if (!seen) seen.emplace(g.h, inst.panelHeight);
        EXPECT_EQ(g.h, seen->first) << "another mask of " << n << " channels is another height";
        EXPECT_EQ(inst.panelHeight, seen->second);
    }
    for (int n = 1; n < kChannelCount; ++n)
        EXPECT_GE(byCount[static_cast<size_t>(n)]->second, byCount[static_cast<size_t>(n) + 1]->second) << n;
    EXPECT_EQ(byCount[0], byCount[1]) << "no channel on is drawn as one";
}

TEST(ParamStage, VectorscopeIgnoresRangeAndStandard) {
    const ScopeInstance inst = prepared(1, 0, DisplayMode::Vectorscope);
    EXPECT_EQ(inst.lumaOffset, 0);
    EXPECT_EQ(lumaOf(inst, rgb(255, 0, 0)), 76);  // as with 16-235 / 601
}

TEST(ParamStage, PassthruMakesTheVideoViewEffective) {
    ScopeInstance inst{};
    inst.settings = kDefaultSettings;
    inst.settings.mode = static_cast<int32_t>(DisplayMode::Vectorscope);
    inst.settings.passthru = 1;
    OutputGeometry g{720, 480, 2880};
    prepareDisplay(inst, g);
    EXPECT_EQ(g.w, 720);
    EXPECT_EQ(g.h, 480);
    EXPECT_EQ(g.pitch, 2880);
    EXPECT_EQ(inst.lumaOffset, 16);  // follows rng255, not the vectorscope's 0
}

TEST(ParamStage, ModeOutOfRangeReturnsEarlyAfterTheSharedTables) {
    for (int32_t mode : {5, -1, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(mode);
        ScopeInstance inst{};
        std::memset(&inst, 0x5C, sizeof inst);
        inst.settings = kDefaultSettings;
        inst.settings.mode = mode;
        inst.settings.ntsc = 0;
        OutputGeometry g{33, 17, 132};
        prepareDisplay(inst, g);
        EXPECT_EQ(g.w, 33);
        EXPECT_EQ(g.h, 17);
        EXPECT_EQ(g.pitch, 132);
        EXPECT_EQ(inst.lumaOffset, 16);
        EXPECT_EQ(inst.wfmRamp[0], 0);
        EXPECT_EQ(inst.wfmRamp[5119], 255);
        EXPECT_EQ(inst.colourMatrix[1][0], -0.1473);
        EXPECT_EQ(inst.weightTable[0][0], 0x5C5C5C5Cu) << "weightTable keeps its earlier contents";
    }
}

TEST(ParamStage, ColourMatrixFollowsTheStandard) {
    for (uint8_t ntsc : {0, 1}) {
        SCOPED_TRACE(ntsc ? "NTSC" : "PAL");
        ScopeInstance inst{};
        inst.settings = kDefaultSettings;
        inst.settings.ntsc = ntsc;
        OutputGeometry g{8, 8, 32};
        prepareDisplay(inst, g);
        const double expected[3][3] = {
            {0.2989, 0.5866, 0.1144},
            {ntsc ? 0.5959 : -0.1473, ntsc ? -0.2741 : -0.2891, ntsc ? -0.3218 : 0.4364},
            {ntsc ? 0.2113 : 0.6149, ntsc ? -0.5227 : -0.5145, ntsc ? 0.3113 : -0.1004},
        };
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(inst.colourMatrix[r][c], expected[r][c]) << r << "," << c;
    }
}

TEST(ParamStage, WfmRampRisesByOnePerCountToFullBrightness) {
    ScopeInstance inst = prepared(1, 1);
    EXPECT_EQ(inst.wfmRamp[0], 0);
    EXPECT_EQ(inst.wfmRamp[1], 129);
    EXPECT_EQ(inst.wfmRamp[5], 133);    // one pixel
    EXPECT_EQ(inst.wfmRamp[125], 253);  // 25 pixels
    EXPECT_EQ(inst.wfmRamp[126], 254);
    for (int k = 127; k < kWfmRampSize; ++k) ASSERT_EQ(inst.wfmRamp[k], 255) << k;
}
