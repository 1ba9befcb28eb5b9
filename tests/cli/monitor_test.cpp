// A monitor through the real executable: every tile is the display a run of
// its own writes, bit for bit, a crop is the display of a cropped copy, the
// outline marks the region, and bad requests are refused before any frame.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_runner.h"
#include "media.h"
#include "monitor/layout.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
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

    // Runs the monitor and each display alone with the same settings
    // (`single` inputs for each), then checks every frame: each tile equals
    // the lone display's frame, placed as the layout says, on black.
    void expectTilesAreSingleDisplays(const Args& monitorArgs, const std::vector<std::string>& displays,
                                      const Args& single, TileLayout layout, int32_t captionH = 0) {
        const Decoded mon = runDecode(monitorArgs, "monitor.mkv");
        std::vector<Decoded> alone;
        std::vector<TileSize> cells;
        for (const std::string& d : displays) {
            Args args = single;
            args.insert(args.end(), {"-d", d, "-o", d + ".mkv"});
            alone.push_back(runDecode(args, d + ".mkv"));
            ASSERT_FALSE(alone.back().frames.empty()) << d;
            cells.push_back({alone.back().frames[0].w, alone.back().frames[0].h + captionH});
        }
        const TilePlan plan = layOutTiles(cells, layout, 2);
        ASSERT_FALSE(mon.frames.empty());
        for (size_t k = 0; k < mon.frames.size(); ++k) {
            const Image& frame = mon.frames[k];
            ASSERT_EQ(frame.w, plan.output.w);
            ASSERT_EQ(frame.h, plan.output.h);
            Image covered(frame.w, frame.h);
            for (size_t i = 0; i < displays.size(); ++i) {
                SCOPED_TRACE(displays[i] + ", frame " + std::to_string(k));
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
};

}  // namespace

TEST_F(MonitorRun, EveryTileIsItsDisplayAloneBitForBit) {
    // Limited-range YUV: the video view, histograms and waveform measure
    // studio RGB, the vectorscope and hot pixel scan full-range RGB, so the
    // monitor needs both conversions of every frame. Odd sizes; the
    // histograms accumulate over the frames, each tile on its own.
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
    ASSERT_EQ(writePlannedClip(path("clip.mkv"), plan), "");
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
