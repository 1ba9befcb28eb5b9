// A monitor through the real executable: every tile is the display a run of
// its own writes, bit for bit, a crop is the display of a cropped copy, the
// outline marks the region, a parade shows every level of each channel, and
// bad requests are refused before any frame.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "cli/support/cli_runner.h"
#include "cli/support/media.h"
#include "layout/tile_layout.h"
#include "vocabulary.h"

namespace {

constexpr uint32_t kMagenta = 0xFF00FF;  // the outline
constexpr uint32_t kAmber = 0xFFB700;    // the filter's graticule and text colour
constexpr int32_t kCaption = 12;         // the 8x8 font with two rows above and below
constexpr uint32_t kRgb = 0xFFFFFF;

Image cut(const Image& img, int32_t x, int32_t y, int32_t w, int32_t h) {
    Image out(w, h);
    for (int32_t r = 0; r < h; ++r)
        for (int32_t c = 0; c < w; ++c) out.at(c, r) = img.at(x + c, y + r);
    return out;
}

class MonitorRun : public CliTest {
protected:
    Decoded runDecode(const Args& args, const std::string& out) {
        SCOPED_TRACE("kivrel " + testing::PrintToString(args));
        const CliResult r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        const Decoded d = decodeFile(path(out));
        EXPECT_EQ(d.error, "") << out;
        return d;
    }

    // Runs the monitor and each tile's display alone with the same settings
    // (`single` inputs for each, then the tile's own arguments), then checks
    // every frame: each tile equals the lone display's frame, placed as the
    // layout says, on black. `planOut`: where the tiles went.
    void expectTilesAreSingleRuns(const Args& monitorArgs, const std::vector<Args>& tiles, const Args& single,
                                  TileLayout layout, int32_t captionH = 0, TilePlan* planOut = nullptr) {
        const Decoded mon = runDecode(monitorArgs, "monitor.mkv");
        std::vector<Decoded> alone;
        std::vector<TileSize> cells;
        for (size_t i = 0; i < tiles.size(); ++i) {
            const std::string out = "tile" + std::to_string(i) + ".mkv";
            Args args = single;
            args.insert(args.end(), tiles[i].begin(), tiles[i].end());
            args.insert(args.end(), {"-y", "-o", out});
            alone.push_back(runDecode(args, out));
            ASSERT_FALSE(alone.back().frames.empty()) << testing::PrintToString(tiles[i]);
            cells.push_back({alone.back().frames[0].w, alone.back().frames[0].h + captionH});
        }
        const TilePlan plan = layOutTiles(cells, layout, 2);
        if (planOut != nullptr) *planOut = plan;
        ASSERT_FALSE(mon.frames.empty());
        for (size_t k = 0; k < mon.frames.size(); ++k) {
            const Image& frame = mon.frames[k];
            ASSERT_EQ(frame.w, plan.output.w);
            ASSERT_EQ(frame.h, plan.output.h);
            Image covered(frame.w, frame.h);
            for (size_t i = 0; i < tiles.size(); ++i) {
                SCOPED_TRACE(testing::PrintToString(tiles[i]) + ", frame " + std::to_string(k));
                ASSERT_EQ(alone[i].frames.size(), mon.frames.size());
                const Image& want = alone[i].frames[k];
                const TilePoint at = plan.at[i];
                EXPECT_TRUE(samePicture(cut(frame, at.x, at.y + captionH, want.w, want.h), want));
                for (int32_t y = at.y; y < at.y + captionH + want.h; ++y)
                    for (int32_t x = at.x; x < at.x + want.w; ++x) covered.at(x, y) = 1;
            }
            for (int32_t y = 0; y < frame.h; ++y)
                for (int32_t x = 0; x < frame.w; ++x)
                    if (covered.at(x, y) == 0) {
                        ASSERT_EQ(frame.at(x, y), 0u) << "gap at " << x << "," << y;
                    }
        }
    }

    void expectTilesAreSingleDisplays(const Args& monitorArgs, const std::vector<std::string>& displays,
                                      const Args& single, TileLayout layout, int32_t captionH = 0) {
        std::vector<Args> tiles;
        for (const std::string& d : displays) tiles.push_back({"-d", d});
        expectTilesAreSingleRuns(monitorArgs, tiles, single, layout, captionH);
    }
};

}  // namespace

// Limited-range YUV: the video view, histograms and waveform measure studio
// RGB, the vectorscope and hot pixel scan full-range RGB, so a monitor of
// both needs both conversions of every frame. Odd sizes.
namespace {

ClipPlan studioClip() {
    ClipPlan plan;
    plan.w = 37;
    plan.h = 23;
    plan.pts = {0, 1, 2};
    plan.range = 1;  // AVCOL_RANGE_MPEG
    plan.pixel = [](int k, int x, int y) {
        const uint32_t luma = static_cast<uint32_t>(4 + x * 7 + k * 30) & 0xFF;
        const uint32_t cb = static_cast<uint32_t>(16 + y * 9 + k * 5) & 0xFF;
        const uint32_t cr = static_cast<uint32_t>(240 - x * 5 - y * 3) & 0xFF;
        return luma << 16 | cb << 8 | cr;
    };
    return plan;
}

}  // namespace

TEST_F(MonitorRun, EveryTileIsItsDisplayAloneBitForBit) {
    // The histograms accumulate over the frames, each tile on its own.
    ASSERT_EQ(writePlannedClip(path("clip.mkv"), studioClip()), "");
    const std::vector<std::string> displays = {"picture",    "video",    "hotpixel",
                                               "histograms", "waveform", "vectorscope"};
    expectTilesAreSingleDisplays({"clip.mkv", "-d", "picture,video,hotpixel,histograms,waveform,vectorscope",
                                  "--layout", "grid", "--accumulate", "-o", "monitor.mkv"},
                                 displays, {"clip.mkv", "--accumulate"}, TileLayout::Grid);
}

TEST_F(MonitorRun, ACropIsTheDisplayOfACroppedCopy) {
    const std::vector<Image> clip = patternClip(19, 13, 3);
    std::vector<Image> cropped;
    for (const Image& f : clip) cropped.push_back(cut(f, 3, 2, 7, 5));
    ASSERT_EQ(writeClip(path("clip.mkv"), clip, 10), "");
    ASSERT_EQ(writeClip(path("cropped.mkv"), cropped, 10), "");
    for (const char* layout : {"row", "column"}) {
        SCOPED_TRACE(layout);
        const std::string name = layout;
        expectTilesAreSingleDisplays(
            {"clip.mkv", "-d", "waveform,vectorscope,histograms", "--crop", "7:5:3:2", "--layout", layout,
             "--accumulate", "--pad-pitch", "3", "-y", "-o", "monitor.mkv"},
            {"waveform", "vectorscope", "histograms"}, {"cropped.mkv", "--accumulate", "-y"},
            name == "row" ? TileLayout::Row : TileLayout::Column);
    }
}

TEST_F(MonitorRun, TheOutlineFramesTheRegionOnTheWholePicture) {
    const Decoded card = runDecode({"--card-size", "33x21", "-d", "picture", "-o", "card.png"}, "card.png");
    ASSERT_EQ(card.frames.size(), 1u);
    const Image& want = card.frames[0];
    const struct {
        const char* size;
        int32_t w, h;            // of the picture tile
        int32_t x0, y0, x1, y1;  // the outline's first and last column and row
    } cases[] = {
        {nullptr, 33, 21, 3, 2, 9, 6},    // the region's own edge pixels: 7x5 at 3,2
        {"66x-1", 66, 42, 6, 4, 19, 13},  // twice the size: the region's edges, doubled
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size != nullptr ? c.size : "unscaled");
        Args args = {"--card-size", "33x21", "-d", "picture", "--crop", "7:5:3:2", "-y", "-o", "m.png"};
        if (c.size != nullptr) args.insert(args.end(), {"--picture-size", c.size});
        const Decoded d = runDecode(args, "m.png");
        ASSERT_EQ(d.frames.size(), 1u);
        const Image& got = d.frames[0];
        ASSERT_EQ(got.w, c.w + c.w % 2);  // rounded up to even sides
        ASSERT_EQ(got.h, c.h + c.h % 2);
        for (int32_t y = 0; y < c.h; ++y)
            for (int32_t x = 0; x < c.w; ++x) {
                const bool inside = x >= c.x0 && x <= c.x1 && y >= c.y0 && y <= c.y1;
                const bool edge = inside && (x == c.x0 || x == c.x1 || y == c.y0 || y == c.y1);
                if (edge) {
                    ASSERT_EQ(got.at(x, y) & kRgb, kMagenta) << x << "," << y;
                } else if (c.size == nullptr) {
                    ASSERT_EQ(got.at(x, y) & kRgb, want.at(x, y) & kRgb) << x << "," << y;
                } else {
                    ASSERT_NE(got.at(x, y) & kRgb, kMagenta) << x << "," << y;
                }
            }
    }
}

// With non-square pixels, a side of -1 (or -N) follows the display aspect,
// width x SAR / height, to the nearest pixel (then to a multiple of N); the
// tile's pixels are square and the output says so.
TEST_F(MonitorRun, PictureSizeKeepsTheDisplayAspectInSquarePixels) {
    const struct {
        int32_t w, h, sarNum, sarDen;
        const char* size;
        int32_t tileW, tileH;  // worked out by hand
    } cases[] = {
        {720, 576, 64, 45, "640x-1", 640, 360},  // PAL 16:9
        {720, 576, 64, 45, "-1x360", 640, 360},  // the height given
        {720, 576, 64, 45, "500x-1", 500, 281},  // 281.25
        {720, 576, 64, 45, "500x-4", 500, 280},  // 70.3 fours
        {720, 576, 64, 45, "-2x283", 504, 283},  // 503.1: 251.55 twos
        {720, 480, 8, 9, "320x-1", 320, 240},    // NTSC 4:3
        {720, 480, 8, 9, "-1x100", 133, 100},    // 133.3
        {37, 23, 0, 1, "100x-1", 100, 62},       // unstated: square, 62.2
        {16, 64, 3, 2, "-1x8", 3, 8},            // tall, 1.5: the tile one pixel wide
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " SAR " + std::to_string(c.sarNum) +
                     ":" + std::to_string(c.sarDen) + " " + c.size);
        ClipPlan plan;
        plan.w = c.w;
        plan.h = c.h;
        plan.sarNum = c.sarNum;
        plan.sarDen = c.sarDen;
        plan.range = 2;  // AVCOL_RANGE_JPEG: Y' 255 is white
        plan.pixel = [](int, int, int) { return 0xFF8080u; };
        ASSERT_EQ(writePlannedClip(path("in.mkv"), plan), "");
        const Decoded d =
            runDecode({"in.mkv", "-d", "picture", "--picture-size", c.size, "-y", "-o", "m.mkv"}, "m.mkv");
        ASSERT_EQ(d.frames.size(), 1u);
        const Image& got = d.frames[0];
        // The white tile on black, the output's sides rounded up to even.
        ASSERT_EQ(got.w, c.tileW + c.tileW % 2);
        ASSERT_EQ(got.h, c.tileH + c.tileH % 2);
        int32_t whiteW = 0, whiteH = 0;
        for (int32_t x = 0; x < got.w; ++x) whiteW += (got.at(x, 0) & 0xFF) > 0x80;
        for (int32_t y = 0; y < got.h; ++y) whiteH += (got.at(0, y) & 0xFF) > 0x80;
        EXPECT_EQ(whiteW, c.tileW);
        EXPECT_EQ(whiteH, c.tileH);
        EXPECT_EQ(d.sarNum, d.sarDen) << d.sarNum << ":" << d.sarDen;
        EXPECT_GT(d.sarNum, 0);
    }
}

TEST_F(MonitorRun, CaptionsStandAboveTheTilesInTheFiltersColour) {
    expectTilesAreSingleDisplays({"--card-size", "45x31", "-d", "waveform,vectorscope", "--labels", "-o",
                                  "monitor.mkv", "-frames", "2"},
                                 {"waveform", "vectorscope"}, {"--card-size", "45x31", "-frames", "2"},
                                 TileLayout::Row, kCaption);
    const Decoded mon = decodeFile(path("monitor.mkv"));
    ASSERT_FALSE(mon.frames.empty());
    // "waveform: ..." in amber from the third row down, on black.
    int amber = 0;
    for (int32_t y = 0; y < kCaption; ++y)
        for (int32_t x = 0; x < 8 * 8; ++x) {
            const uint32_t px = mon.frames[0].at(x, y) & kRgb;
            ASSERT_TRUE(px == 0 || px == kAmber) << x << "," << y;
            amber += px == kAmber;
            if (y < 2 || y >= kCaption - 2) {
                ASSERT_EQ(px, 0u) << x << "," << y;
            }
        }
    EXPECT_GT(amber, 8 * 8);  // eight letters, far more than one pixel each
}

// Every panel of a parade is, bit for bit, the waveform a run with only its
// channel switched on writes (threaded as such a run is), one per channel
// switched on, in channel order whatever the order --channels gives.
TEST_F(MonitorRun, EachParadePanelIsItsChannelsWaveformAlone) {
    ASSERT_EQ(writePlannedClip(path("clip.mkv"), studioClip()), "");
    auto panel = [](const char* channel) { return Args{"-d", "waveform", "--channels", channel}; };
    const struct {
        const char* display;
        const char* channels;
        std::vector<Args> tiles;
        const char* layout;
    } cases[] = {
        {"parade", "all", {panel("luma"), panel("red"), panel("green"), panel("blue")}, "row"},
        {"parade", "blue,r", {panel("red"), panel("blue")}, "row"},
        {"parade", "green", {panel("green")}, "column"},
        {"parade", "luma,green,blue", {panel("luma"), panel("green"), panel("blue")}, "grid"},
        {"picture,parade,vectorscope",
         "red,green",
         {{"-d", "picture"}, panel("red"), panel("green"), {"-d", "vectorscope", "--channels", "red,green"}},
         "column"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.display) + " --channels " + c.channels + " --layout " + c.layout);
        const std::string layout = c.layout;
        expectTilesAreSingleRuns({"clip.mkv", "-d", c.display, "--channels", c.channels, "--layout", c.layout,
                                  "--pad-pitch", "3", "-y", "-o", "monitor.mkv"},
                                 c.tiles, {"clip.mkv"},
                                 layout == "row"      ? TileLayout::Row
                                 : layout == "column" ? TileLayout::Column
                                                      : TileLayout::Grid);
    }
}

// A limited-range luma ramp of every code 0..255 (three columns each,
// neutral chroma), which the filter's 16-235 setting takes as it is: in
// every panel each level's dot stands in a row of its own, one row above
// the level below it, 235 included. A dot is a pixel of the channel's own
// colour only: luma grey, red red, ...; the amber graticule is none.
TEST_F(MonitorRun, AParadePanelShowsEveryLevel) {
    constexpr int32_t kLevels = 256, kColumnsPerLevel = 3;
    ClipPlan ramp;
    ramp.w = kLevels * kColumnsPerLevel;
    ramp.h = 2;
    ramp.range = 1;  // AVCOL_RANGE_MPEG
    ramp.pixel = [](int, int x, int) { return static_cast<uint32_t>(x / kColumnsPerLevel) << 16 | 0x8080u; };
    ASSERT_EQ(writePlannedClip(path("ramp.mkv"), ramp), "");
    // No -o: the default name says what it is.
    const Decoded d =
        runDecode({"ramp.mkv", "-d", "parade", "--channels", "all", "--no-grid"}, "ramp.parade.png");
    ASSERT_EQ(d.frames.size(), 1u);
    const Image& out = d.frames[0];
    constexpr int kPanels = 4;
    ASSERT_EQ(out.w % kPanels, 0);
    const int32_t panelW = out.w / kPanels;
    const uint32_t masks[kPanels] = {kRgb, 0xFF0000, 0x00FF00, 0x0000FF};
    for (int p = 0; p < kPanels; ++p) {
        auto isDot = [&](uint32_t px) {
            px &= kRgb;
            const bool grey = (px >> 16) == (px & 0xFF) && ((px >> 8) & 0xFF) == (px & 0xFF);
            return px != 0 && (px & ~masks[p]) == 0 && (p != 0 || grey);
        };
        int32_t levelZeroRow = -1;
        for (int32_t level = 0; level < kLevels; ++level) {
            SCOPED_TRACE("panel " + std::to_string(p) + ", level " + std::to_string(level));
            std::set<int32_t> rows;
            for (int32_t x = level * kColumnsPerLevel; x < (level + 1) * kColumnsPerLevel; ++x)
                for (int32_t y = 0; y < out.h; ++y)
                    if (isDot(out.at(p * panelW + x, y))) rows.insert(y);
            ASSERT_EQ(rows.size(), 1u);
            if (level == 0) levelZeroRow = *rows.begin();
            EXPECT_EQ(*rows.begin(), levelZeroRow - level);
        }
    }
}

// With --labels each panel has a caption of its own above it, in the
// filter's colour on black, on a wide picture and on one a pixel wide.
TEST_F(MonitorRun, ParadePanelsAreCaptioned) {
    std::vector<Args> panels;
    for (const char* channel : {"luma", "red", "green", "blue"})
        panels.push_back({"-d", "waveform", "--channels", channel});
    for (const char* size : {"45x31", "1x1"}) {
        SCOPED_TRACE(size);
        TilePlan plan;
        expectTilesAreSingleRuns(
            {"--card-size", size, "-d", "parade", "--channels", "all", "--labels", "-y", "-o", "monitor.mkv"},
            panels, {"--card-size", size, "--channels", "all"}, TileLayout::Row, kCaption, &plan);
        const Decoded mon = decodeFile(path("monitor.mkv"));
        ASSERT_EQ(mon.frames.size(), 1u);
        ASSERT_EQ(plan.at.size(), panels.size());
        std::set<std::vector<uint32_t>> captions;
        for (size_t i = 0; i < plan.at.size(); ++i) {
            const int32_t right = i + 1 < plan.at.size() ? plan.at[i + 1].x : mon.frames[0].w;
            std::vector<uint32_t> band;
            int amber = 0;
            for (int32_t y = 0; y < kCaption; ++y)
                for (int32_t x = plan.at[i].x; x < right; ++x) {
                    const uint32_t px = mon.frames[0].at(x, y) & kRgb;
                    ASSERT_TRUE(px == 0 || px == kAmber) << x << "," << y;
                    amber += px == kAmber;
                    band.push_back(px);
                }
            EXPECT_GT(amber, 0) << "panel " << i;
            captions.insert(band);
        }
        EXPECT_EQ(captions.size(), panels.size());  // each its own words
    }
}

TEST_F(MonitorRun, BadListsLayoutsAndRegionsAreRefusedBeforeAnyFrame) {
    const struct {
        Args args;
        const char* message;
        int status;
    } cases[] = {
        {{"-d", "video,,waveform"},
         "--display: 'video,,waveform' is not a comma-separated list of ",
         kExitUsage},
        {{"-d", "video,scope"}, "'scope' is unknown", kExitUsage},
        {{"-d", "video", "--layout", "diagonal"},
         "--layout: 'diagonal' is not one of row, column, grid",
         kExitUsage},
        {{"-d", "video", "--picture-size", "0x10"}, "--picture-size: '0x10' is not a size WxH", kExitUsage},
        {{"-d", "video", "--picture-size", "-1x-1"}, "--picture-size: '-1x-1' is not a size WxH", kExitUsage},
        {{"-d", "video", "--crop", "4*(2:3"}, "--crop: '4*(2': a ')' is missing", kExitUsage},
        {{"-d", "video", "--crop", "ow:oh:x"}, "--crop: 'x': unknown name 'x'", kExitUsage},
        {{"-d", "video,waveform", "--crop", "100:100:300:0"},
         "--crop 100:100:300:0: the region 100x100 at 300,0 (columns 300 to 399, rows 0 to 99) is not wholly "
         "inside the 320x240 frame",
         kExitFailure},
        {{"-d", "waveform", "--crop", "iw:0"},
         "--crop iw:0: the region 320x0 at 0,120 is empty",
         kExitFailure},
        {{"-d", "parade", "--channels", "none"}, "-d parade: no channel is switched on", kExitFailure},
        {{"-d", "waveform,vectorscope", "--picture-size", "160x120"},
         "--picture-size: no tile shows the picture (picture, passthru, video or hotpixel)",
         kExitUsage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Args args = c.args;
        args.insert(args.end(), {"--card-size", "320x240", "-o", "m.png"});
        const CliResult r = run(args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.oneLine()) << r.err;
        EXPECT_TRUE(files().empty());
    }
}

TEST_F(MonitorRun, MonitorsAreForRenderingOnly) {
    const struct {
        Args args;
        const char* message;
    } cases[] = {
        {{"defaults", "-d", "parade"}, "kivrel defaults stores the settings of one display"},
        {{"defaults", "-d", "video,waveform"}, "kivrel defaults stores the settings of one display"},
        {{"report", "clip.mkv", "-d", "parade"}, "kivrel report measures every frame, it draws no monitor"},
        {{"report", "clip.mkv", "--labels"}, "kivrel report measures every frame, it draws no monitor"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const CliResult r = run(c.args);
        EXPECT_EQ(r.status, kExitUsage);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(r.oneLine()) << r.err;
        EXPECT_TRUE(files().empty());
    }
}
