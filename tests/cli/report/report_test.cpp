// kivrel report through the real executable: its numbers against what the
// displays show for the same decoded frames, exact values on made frames,
// the exit status of each rule, and its forms read back by standard readers.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "cli/support/cli_runner.h"
#include "cli/support/media.h"
#include "convert/frame_converter.h"
#include "draw/font.h"
#include "input/input.h"
#include "pluginhost/module_host.h"
#include "report/picture.h"

namespace {

constexpr int kRuleBroken = 3;

// One CSV line's fields (the report quotes none of these test names).
std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream in(line);
    for (std::string f; std::getline(in, f, ',');) out.push_back(f);
    return out;
}

// The report's CSV as rows of named values.
std::vector<std::map<std::string, std::string>> csvRows(const std::string& text) {
    std::stringstream in(text);
    std::string line;
    std::getline(in, line);
    const std::vector<std::string> header = fields(line);
    std::vector<std::map<std::string, std::string>> rows;
    while (std::getline(in, line)) {
        const std::vector<std::string> v = fields(line);
        std::map<std::string, std::string> row;
        for (size_t i = 0; i < header.size() && i < v.size(); ++i) row[header[i]] = v[i];
        rows.push_back(row);
    }
    return rows;
}

constexpr int32_t kGlyphCells = 8;  // the font's glyphs are 8 x 8

// Reads the text the display drew with the built-in font from (x, y) on:
// each 8 x 8 cell is the glyph whose set bits are the cell's lit pixels.
std::string readLabelAt(const ConstFrame& f, int32_t x, int32_t y) {
    std::string text;
    for (int32_t cx = x; cx + kGlyphCells <= f.w; cx += kGlyphCells) {
        int found = -1;
        for (int code = ' '; code < 127 && found < 0; ++code) {
            bool same = true;
            for (int r = 0; r < kFontRows && same; ++r)
                for (int b = 0; b < kGlyphCells && same; ++b)
                    same = ((fontTable[code][r] >> (7 - b)) & 1) ==
                           ((f.canvasRow(y + r)[cx + b] & 0xFFFFFF) != 0);
            if (same) found = code;
        }
        if (found < 0) break;
        text += static_cast<char>(found);
    }
    return text;
}

// The first line of text in rows top..top+span that begins at column x.
std::string readLabel(const ConstFrame& f, int32_t x, int32_t top, int32_t span) {
    for (int32_t y = top; y + kFontRows <= f.h && y <= top + span; ++y)
        if (std::string text = readLabelAt(f, x, y); !text.empty() && text[0] != ' ') return text;
    return "";
}

class Report : public CliTest {
protected:
    // The report's numbers of a limited-range clip of this size against
    // what the displays show for the same frames.
    void checkAgainstDisplays(int32_t w, int32_t h);
};

// A limited-range YUV clip with foot- and headroom, saturated chroma and
// values out of gamut: every part of the measures has something to find.
uint32_t busyPixel(int k, int x, int y) {
    const uint32_t luma = static_cast<uint32_t>(x * 7 + y * 3 + k * 29) & 0xFF;
    const uint32_t cb = static_cast<uint32_t>(x * 13 + k * 5) & 0xFF;
    const uint32_t cr = static_cast<uint32_t>(y * 17 + k * 41) & 0xFF;
    return luma << 16 | cb << 8 | cr;
}

}  // namespace

void Report::checkAgainstDisplays(int32_t w, int32_t h) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    ClipPlan plan;
    plan.w = w;
    plan.h = h;
    plan.pts = {0, 1, 2, 3};
    plan.colorspace = 6;  // BT.601 (SMPTE 170M)
    plan.range = 1;       // limited
    plan.pixel = busyPixel;
    const std::string clip = "busy" + std::to_string(w) + ".mkv";
    ASSERT_EQ(writePlannedClip(path(clip), plan), "");
    const CliResult r = run({"report", clip, "-y", "-o", "r.csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = csvRows(readText("r.csv"));
    ASSERT_EQ(rows.size(), plan.pts.size());

    // The same frames through the module: the histograms as their title
    // reads, and the hot pixel scan to black. A tagged limited-range source
    // sets the filter to 16-235 and 601; the histograms then get studio RGB,
    // the scan full-range RGB.
    Status error;
    const auto module = FilterModuleHost::load(KIVREL_MODULE_PATH, error);
    ASSERT_TRUE(module) << error.message();
    for (const char* display : {"histograms", "hotpixel"}) {
        SCOPED_TRACE(display);
        const bool hot = std::string(display) == "hotpixel";
        FilterInstance inst(*module);
        ASSERT_TRUE(inst.init().ok());
        ASSERT_TRUE(inst.runScriptLine(hot ? "Config(1, 0, 0, 1, 1, 1, 0, 1, 1, 1, 1, 0, 1)"
                                           : "Config(0, 0, 0, 1, 1, 1, 0, 1, 1, 1, 1, 0, 1)")
                        .ok());
        ReaderParams params;
        params.path = path(clip);
        std::unique_ptr<Reader> reader;
        ASSERT_TRUE(openReader(kMediaReaderName, params, reader).ok());
        FrameConverter converter(reader->info(), 0);
        const RgbLevels levels = hot ? RgbLevels::Full : RgbLevels::Studio;
        ASSERT_TRUE(inst.prepare(plan.w, plan.h, 0).ok());
        for (const auto& row : rows) {
            ReadFrame meta;
            ASSERT_TRUE(reader->read(meta).ok());
            ASSERT_FALSE(meta.end);
            ASSERT_TRUE(converter.convert(reader->picture(), levels, inst.source()).ok());
            SCOPED_TRACE("frame " + row.at("frame"));
            ASSERT_EQ(std::to_string(meta.number), row.at("frame"));
            const Image source = imageOf(inst.source().frame());
            ASSERT_TRUE(inst.run(meta.number).ok());
            if (hot) {
                const Image out = imageOf(inst.output().frame());
                int64_t changed = 0;
                for (size_t i = 0; i < out.px.size(); ++i) changed += out.px[i] != source.px[i] ? 1 : 0;
                EXPECT_EQ(std::to_string(changed), row.at("hot_pixels"));
            } else {
                // The title line, in the band above the panels.
                const std::string title = readLabel(inst.output().frame(), 50, 0, 12);
                EXPECT_EQ(title.rfind("AVD: " + row.at("avd") + " ", 0), 0u) << title;
            }
        }
    }
}

TEST_F(Report, NumbersAreWhatTheDisplaysShowForDecodedFrames) {
    // Odd sizes: one band of rows, and bands enough for every thread to take several.
    for (const auto& [w, h] : {std::pair{37, 29}, std::pair{301, 251}}) checkAgainstDisplays(w, h);
}

TEST_F(Report, ExactValuesOnMadeFrames) {
    struct Case {
        const char* name;
        std::vector<Image> frames;  // RGB, or empty for the YUV ramp
        Args settings;
        std::map<std::string, std::string> want;
    };
    // Bars of equal width: white, yellow, red, green, blue, black.
    Image bars(60, 4);
    constexpr uint32_t kBars[] = {0xFFFFFF, 0xFFFF00, 0xFF0000, 0x00FF00, 0x0000FF, 0x000000};
    for (int32_t x = 0; x < bars.w; ++x)
        for (int32_t y = 0; y < bars.h; ++y) bars.at(x, y) = kBars[x / 10];
    const Case cases[] = {
        // With 16-235 and 601 every grey keeps its level.
        {"grey.mkv",
         {Image(9, 7, 0x808080)},
         {"--range", "16-235", "--matrix", "601"},
         {{"avd", "128"},
          {"luma_min", "128"},
          {"luma_max", "128"},
          {"red_min", "128"},
          {"blue_max", "128"},
          {"hot_pixels", "0"},
          {"below16_percent", "0.0000"},
          {"above235_percent", "0.0000"}}},
        // PAL, not gamma corrected, at 100 IRE: white, yellow, red and green are hot, blue and black not;
        // 0-255 and 601 put black at 16 and white at 235.
        {"bars.mkv",
         {bars},
         {"--system", "pal", "--no-gamma", "--max-ire", "100", "--range", "0-255", "--matrix", "601"},
         {{"luma_min", "16"},
          {"luma_max", "235"},
          {"green_min", "0"},
          {"green_max", "255"},
          {"hot_pixels", "160"},
          {"hot_percent", "66.6667"},
          {"below16_percent", "0.0000"}}},
        // At 120 IRE white is legal; yellow, red and green still are not (their chroma alone is too much).
        {"bars.mkv",
         {bars},
         {"--system", "pal", "--no-gamma", "--max-ire", "120", "--range", "0-255", "--matrix", "601"},
         {{"hot_pixels", "120"}, {"hot_percent", "50.0000"}}},
        // A limited-range grey ramp Y = 0..255: studio RGB keeps the foot- and
        // headroom, 16 levels below 16 and 20 above 235.
        {"ramp.mkv",
         {},
         {},
         {{"avd", "127"},
          {"luma_min", "0"},
          {"luma_max", "255"},
          {"below16_percent", "6.2500"},
          {"above235_percent", "7.8125"},
          {"hot_pixels", "0"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.frames.empty()) {
            ClipPlan ramp;
            ramp.w = 256;
            ramp.h = 2;
            ramp.range = 1;
            ramp.pixel = [](int, int x, int) { return static_cast<uint32_t>(x) << 16 | 0x8080; };
            ASSERT_EQ(writePlannedClip(path(c.name), ramp), "");
        } else {
            ASSERT_EQ(writeClip(path(c.name), c.frames, 10), "");
        }
        Args args = {"report", c.name, "-o", "made.csv", "-y"};
        args.insert(args.end(), c.settings.begin(), c.settings.end());
        const CliResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto rows = csvRows(readText("made.csv"));
        ASSERT_EQ(rows.size(), 1u);
        for (const auto& [key, value] : c.want) EXPECT_EQ(rows[0].at(key), value) << key;
    }
}

TEST_F(Report, ExitStatusFollowsTheRules) {
    Image red(8, 4, 0xFF0000);  // pure red: hot at every ceiling
    for (int32_t x = 0; x < 6; ++x) red.at(x, 0) = 0x808080;
    ASSERT_EQ(writeClip(path("red.mkv"), {red}, 10), "");  // 26 of 32 pixels hot
    ASSERT_EQ(writeClip(path("grey.mkv"), {Image(8, 4, 0x808080)}, 10), "");
    writeText("broken.mkv", "not a video");
    struct Case {
        Args args;
        int status;
    };
    const Case cases[] = {
        {{"red.mkv", "--fail-on", "hot"}, kRuleBroken},
        {{"red.mkv", "--fail-on", "hot", "--max-hot", "81.25"}, 0},  // exactly at the limit is legal
        {{"red.mkv", "--fail-on", "hot", "--max-hot", "81.2"}, kRuleBroken},
        {{"red.mkv"}, 0},                                               // broken, but no --fail-on
        {{"grey.mkv", "red.mkv", "--fail-on", "range", "-j", "2"}, 0},  // 0-255 keeps luma in 16..235
        {{"grey.mkv", "red.mkv", "--fail-on=hot,range", "-j2"}, kRuleBroken},
        {{"grey.mkv", "--fail-on", "hot,range", "--range", "16-235"}, 0},
        {{"grey.mkv", "--range-rule", "off", "--fail-on", "range"}, 2},
        {{"grey.mkv", "--fail-on", "cold"}, 2},
        {{"grey.mkv", "-o", "r.txt"}, 2},
        {{"grey.mkv", "broken.mkv", "--fail-on", "hot"}, 1},
    };
    for (const Case& c : cases) {
        Args args = {"report"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::string shown;
        for (const auto& a : args) shown += a + " ";
        SCOPED_TRACE(shown);
        const CliResult r = run(args);
        EXPECT_EQ(r.status, c.status) << r.err << r.out;
    }
}

TEST_F(Report, CsvJsonAndHtmlReadBack) {
    ClipPlan plan;
    plan.w = 24;
    plan.h = 16;
    plan.pts = {0, 1, 2, 3, 4};
    plan.range = 1;
    plan.pixel = busyPixel;
    ASSERT_EQ(writePlannedClip(path("a.mkv"), plan), "");
    ASSERT_EQ(writeClip(path("b.mkv"), patternClip(20, 12, 3), 10), "");
    for (const char* out : {"r.csv", "r.json", "r.html"}) {
        const CliResult r = run({"report", "a.mkv", "b.mkv", "-o", out, "-j", "2"});
        ASSERT_EQ(r.status, 0) << out << ": " << r.err;
    }
    // Python's own readers: one header and a row per frame; the same keys in JSON.
    const std::string check = "python3 - " + dir_ + R"( <<'EOF'
import csv, json, sys
d = sys.argv[1]
rows = list(csv.DictReader(open(d + '/r.csv')))
keys = 'input,frame,time,avd,luma_min,luma_max,red_min,red_max,green_min,green_max,blue_min,blue_max,hot_pixels,hot_percent,below16_percent,above235_percent,source_luma_min,source_luma_max'.split(',')
source = 'src_y_min,src_y_max,src_cb_min,src_cb_max,src_cr_min,src_cr_max,src_r_min,src_r_max,src_g_min,src_g_max,src_b_min,src_b_max,outside_percent'.split(',')
assert list(rows[0].keys()) == keys + ['missing'] + source + ['timecode', 'findings'], rows[0].keys()
assert {r['timecode'] for r in rows} == {''}, 'no start timecode, none per frame'
assert [r['input'] for r in rows] == ['a.mkv'] * 5 + ['b.mkv'] * 3
j = json.load(open(d + '/r.json'))
assert set(j) == {'summary', 'frames'}
assert [list(f.keys()) for f in j['frames']] == [keys + source + ['timecode']] * 8
assert {f['timecode'] for f in j['frames']} == {None}, 'no start timecode, none per frame'
assert [str(f['hot_pixels']) for f in j['frames']] == [r['hot_pixels'] for r in rows]
assert [f['input'] for f in j['summary']['files']] == ['a.mkv', 'b.mkv']
EOF)";
    EXPECT_EQ(std::system(check.c_str()), 0);

    // The page in a real browser: no console message, the four charts of each
    // file and two pictures per shown frame.
    if (std::system("command -v chromium >/dev/null") != 0) GTEST_SKIP() << "chromium is not installed";
    const std::string browse =
        "cd " + dir_ +
        " && chromium --headless --no-sandbox --disable-gpu --enable-logging=stderr --v=0 "
        "--dump-dom file://" +
        dir_ + "/r.html >dom.html 2>log.txt";
    ASSERT_EQ(std::system(browse.c_str()), 0);
    const std::string dom = readText("dom.html"), log = readText("log.txt");
    EXPECT_EQ(log.find("CONSOLE"), std::string::npos) << log;
    for (const char* id : {"avd-0", "band-0", "hot-0", "outside-0", "avd-1", "band-1", "hot-1", "outside-1"})
        EXPECT_NE(dom.find("id=\"" + std::string(id) + "\""), std::string::npos) << id;
    EXPECT_NE(dom.find("src=\"data:image/png;base64,iVBORw0KGgo"), std::string::npos);
    EXPECT_EQ(readText("r.html").find("http"), std::string::npos);  // nothing to fetch
}

// The page's pictures decode to exactly the frames they were made of: up to
// 256 colours through a palette, more as RGB.
TEST_F(Report, PicturesDecodeToTheirFrames) {
    for (const uint32_t colours : {1u, 2u, 256u, 257u, 5000u}) {
        SCOPED_TRACE(std::to_string(colours) + " colours");
        Image img(80, 70);
        for (size_t i = 0; i < img.px.size(); ++i)
            img.px[i] =
                (static_cast<uint32_t>(i) % colours * 40503u & 0xFFFFFF) | 0xAB000000u;  // odd: all differ
        const StoredFrame frame(img, 3);
        std::string png;
        ASSERT_TRUE(encodePng(frame.constFrame(), png).ok());
        writeText("p.png", png);
        const Decoded d = decodeFile(path("p.png"));
        ASSERT_EQ(d.frames.size(), 1u) << d.error;
        EXPECT_TRUE(samePicture(d.frames[0], img));
    }
}

// The range rule judges the source's own luma code values whatever the
// filter's settings; the filter's own numbers keep what its histograms see.
TEST_F(Report, RangeRuleJudgesTheSourceCodeValues) {
    constexpr int32_t kW = 37, kH = 29;
    ClipPlan plan;
    plan.w = kW;
    plan.h = kH;
    plan.pts = {0, 1, 2};
    plan.range = 1;  // limited
    plan.pixel = busyPixel;
    ASSERT_EQ(writePlannedClip(path("busy.mkv"), plan), "");
    // Y plane runs 0..255 in every frame: its share below 16 and above 235, counted here.
    std::vector<std::array<std::string, 2>> want;
    for (size_t k = 0; k < plan.pts.size(); ++k) {
        int below = 0, above = 0;
        for (int32_t y = 0; y < kH; ++y)
            for (int32_t x = 0; x < kW; ++x) {
                const uint32_t luma = busyPixel(static_cast<int>(k), x, y) >> 16;
                below += luma < 16 ? 1 : 0;
                above += luma > 235 ? 1 : 0;
            }
        char b[32], a[32];
        std::snprintf(b, sizeof b, "%.4f", 100.0 * below / (kW * kH));
        std::snprintf(a, sizeof a, "%.4f", 100.0 * above / (kW * kH));
        want.push_back({b, a});
    }
    writeText("wide.vcf",
              "VirtualDub.video.filters.instance[0].Config(0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1);\n");
    for (const Args& settings :
         {Args{}, Args{"--range", "0-255"}, Args{"--range", "16-235", "--matrix", "709"},
          Args{"--script", "wide.vcf"}}) {
        SCOPED_TRACE(testing::PrintToString(settings));
        Args args = {"report", "busy.mkv", "-o", "r.csv", "-y", "--fail-on", "range"};
        args.insert(args.end(), settings.begin(), settings.end());
        const CliResult r = run(args);
        EXPECT_EQ(r.status, kRuleBroken) << r.err;
        const auto rows = csvRows(readText("r.csv"));
        ASSERT_EQ(rows.size(), want.size());
        for (size_t k = 0; k < rows.size(); ++k) {
            EXPECT_EQ(rows[k].at("below16_percent"), want[k][0]) << k;
            EXPECT_EQ(rows[k].at("above235_percent"), want[k][1]) << k;
            EXPECT_EQ(rows[k].at("source_luma_min"), "0") << k;
            EXPECT_EQ(rows[k].at("source_luma_max"), "255") << k;
        }
    }
    // Full-range RGB becomes luma 16..235 in any converter: black and white are legal.
    ASSERT_EQ(writeClip(path("bw.mkv"), {Image(8, 4, 0x000000), Image(8, 4, 0xFFFFFF)}, 10), "");
    const CliResult r = run({"report", "bw.mkv", "-o", "bw.csv", "--fail-on", "range", "--range", "16-235"});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto rows = csvRows(readText("bw.csv"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].at("source_luma_max"), "16");
    EXPECT_EQ(rows[1].at("source_luma_min"), "235") << readText("bw.csv");
}

namespace {

// Runs a Python check on the test's folder (argv[1]); true when it passes.
bool python(const std::string& dir, const std::string& script) {
    const std::string command =
        "python3 - " + dir + " <<'EOF'\nimport csv, json, sys\nd = sys.argv[1]\n" + script + "\nEOF";
    return std::system(command.c_str()) == 0;
}

}  // namespace

// A damaged frame left out and a frame the stream lacks: every form lists
// them with their times, and the frames after keep the source's numbers.
TEST_F(Report, MissingFramesAreListedAndNumbersFollowTheSource) {
    ClipPlan plan;
    plan.w = 24;
    plan.h = 16;
    plan.pts = {0, 1, 2, 3, 5, 6, 7, 8, 9, 10, 11};  // frame 4 lost: 0.4 s has no frame
    plan.checksums = true;
    plan.pixel = busyPixel;
    ASSERT_EQ(writePlannedClip(path("clip.mkv"), plan), "");
    const std::vector<PacketSpan> spans = decodeFile(path("clip.mkv")).packets;
    ASSERT_EQ(spans.size(), plan.pts.size());
    std::string data = readText("clip.mkv");
    const PacketSpan& hurt = spans[7];  // frame 8
    for (auto i = static_cast<size_t>(hurt.pos + hurt.size / 4);
         i < static_cast<size_t>(hurt.pos + hurt.size / 2); ++i)
        data[i] ^= 0x5A;
    writeText("hurt.mkv", data);
    for (const char* out : {"r.csv", "r.json", "r.html"}) {
        const CliResult r = run({"report", "hurt.mkv", "--skip-errors", "-o", out});
        ASSERT_EQ(r.status, 0) << out << ": " << r.err;
    }
    EXPECT_TRUE(python(dir_, R"(
rows = list(csv.DictReader(open(d + '/r.csv', encoding='utf-8')))
assert [(r['frame'], r['time'], r['missing']) for r in rows if r['missing']] == \
    [('4', '0.400', 'lost'), ('8', '0.800', 'damaged')], rows
assert [int(r['frame']) for r in rows] == list(range(12)), [r['frame'] for r in rows]
assert all(r['avd'] == '' for r in rows if r['missing'])
j = json.load(open(d + '/r.json', encoding='utf-8'))
f = j['summary']['files'][0]
assert f['missing'] == [{'frame': 4, 'time': 0.4, 'why': 'lost'}, {'frame': 8, 'time': 0.8, 'why': 'damaged'}], f
assert (f['frames'], f['frames_damaged'], f['frames_lost']) == (10, 1, 1), f
assert [(x['frame'], x['time']) for x in j['frames']] == [(k, k / 10) for k in (0, 1, 2, 3, 5, 6, 7, 9, 10, 11)]
)"));
    // On the page with their timecodes, at 10 frames a second from 00:00:00:00.
    const std::string listed = "4 at 0.400 s (00:00:00:04) lost, 8 at 0.800 s (00:00:00:08) damaged";
    EXPECT_NE(readText("r.html").find(listed), std::string::npos);
    const CliResult r = run({"report", "hurt.mkv", "--skip-errors"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("10, 2 missing: 1 damaged and left out, 1 lost"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("4 at 0.400 s lost, 8 at 0.800 s damaged"), std::string::npos) << r.out;
}

// Damage is read past, with or without --skip-errors, and recorded per file
// in every form: a Y4M whose last frame is short has that frame damaged, a
// Matroska file cut short has the frames its header states past the cut
// lost. Only --fail-on damaged makes it status 3; a file that cannot be read
// at all is 1, over 3. The frames are worked out from the bytes kept.
TEST_F(Report, DamageIsRecordedPerFileAndFailsOnlyWhenAsked) {
    constexpr int kFrames = 8, kFps = 10;
    const std::string source = "ffmpeg -v error -f lavfi -i testsrc=size=32x24:rate=10 -frames:v 8 ";
    for (const char* make : {"-pix_fmt yuv420p whole.y4m", "-c:v ffv1 whole.mkv"})
        ASSERT_EQ(std::system(("cd " + dir_ + " && " + source + make).c_str()), 0) << make;
    const std::string y4m = readText("whole.y4m");
    writeText("cut.y4m", y4m.substr(0, y4m.size() - 1));  // the last frame one byte short
    const std::vector<PacketSpan> packets = decodeFile(path("whole.mkv")).packets;
    ASSERT_EQ(packets.size(), static_cast<size_t>(kFrames));
    const PacketSpan& cutIn = packets[3];
    writeText("cut.mkv", readText("whole.mkv").substr(0, static_cast<size_t>(cutIn.pos + cutIn.size / 2)));
    ASSERT_EQ(writeClip(path("grey.mkv"), {Image(8, 4, 0x808080)}, kFps), "");
    writeText("broken.mkv", "not a video");
    struct Case {
        Args args;
        int status;
    };
    const Case cases[] = {
        {{"cut.mkv", "cut.y4m"}, 0},
        {{"cut.mkv", "--skip-errors"}, 0},
        {{"cut.mkv", "--fail-on", "damaged"}, kRuleBroken},
        {{"grey.mkv", "cut.y4m", "--fail-on", "range,damaged", "-j", "2"}, kRuleBroken},
        {{"grey.mkv", "--fail-on", "damaged"}, 0},
        {{"cut.y4m", "broken.mkv", "--fail-on", "damaged"}, 1},
        {{"cut.y4m", "--fail-on", "damage"}, 2},
    };
    for (const Case& c : cases) {
        Args args = {"report"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(testing::PrintToString(args));
        const CliResult r = run(args);
        EXPECT_EQ(r.status, c.status) << r.err << r.out;
        if (std::find(args.begin(), args.end(), "cut.y4m") != args.end() && c.status != 2) {
            EXPECT_NE(
                r.err.find("cut.y4m: frame 7 is incomplete: the input ends inside it; the last good one "
                           "before it is frame 6 at 0.600 s"),
                std::string::npos)
                << r.err;
        }
    }
    for (const char* out : {"r.csv", "r.json"}) {
        const CliResult r = run({"report", "cut.mkv", "cut.y4m", "-o", out});
        ASSERT_EQ(r.status, 0) << out << ": " << r.err;
        EXPECT_NE(
            r.err.find("cut.mkv: the file stops at 0.30 s, short of the 0.80 s it states: it is cut short; "
                       "the last good one before it is frame 2 at 0.200 s"),
            std::string::npos)
            << r.err;
    }
    EXPECT_TRUE(python(dir_, R"(
rows = list(csv.DictReader(open(d + '/r.csv', encoding='utf-8')))
missing = [(r['input'], r['frame'], r['time'], r['missing']) for r in rows if r['missing']]
assert missing == [('cut.mkv', str(k), '%.3f' % (k / 10), 'lost') for k in range(3, 8)] +     [('cut.y4m', '7', '0.700', 'damaged')], missing
f = json.load(open(d + '/r.json', encoding='utf-8'))['summary']['files']
assert [(x['input'], x['frames'], x['frames_damaged'], x['frames_lost']) for x in f] ==     [('cut.mkv', 3, 0, 5), ('cut.y4m', 7, 1, 0)], f
)"));
    const CliResult r = run({"report", "cut.mkv"});
    EXPECT_NE(r.out.find("3, 5 missing: 0 damaged and left out, 5 lost"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("3-7 at 0.300-0.700 s lost"), std::string::npos) << r.out;
}

// An MXF cut short loses its index, and with it the frames' presentation
// times: its long-GOP MPEG-2 frames come timed by decoding order, a frame
// late. Read with or without --skip-errors, each frame keeps the number the
// whole file gives the same picture, no number is both measured and missing,
// and the frames the header states past the cut are listed: damage after
// frame N, not a file unreadable as a whole.
TEST_F(Report, CutShortMpeg2MxfKeepsItsFrameNumbers) {
    ASSERT_EQ(std::system(("cd " + dir_ +
                           " && ffmpeg -v error -f lavfi -i testsrc2=size=64x48:rate=25:duration=4 -c:v "
                           "mpeg2video -g 12 -bf 2 -b:v 2M -pix_fmt yuv422p -f mxf whole.mxf")
                              .c_str()),
              0);
    const std::string whole = readText("whole.mxf");
    writeText("cut.mxf", whole.substr(0, whole.size() * 3 / 5));
    ASSERT_EQ(run({"report", "whole.mxf", "-o", "whole.json"}).status, 0);
    for (const char* skip : {"", "--skip-errors"}) {
        SCOPED_TRACE(skip);
        Args args = {"report", "cut.mxf", "-y", "-o", "cut.json"};
        if (*skip) args.push_back(skip);
        const CliResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(python(dir_, R"(
ignore = ('input', 'time', 'timecode')
def rows(name):
    return {x['frame']: {k: v for k, v in x.items() if k not in ignore}
            for x in json.load(open(d + '/' + name))['frames']}
whole, cut = rows('whole.json'), rows('cut.json')
f = json.load(open(d + '/cut.json'))['summary']['files'][0]
missing = [m['frame'] for m in f['missing']]
assert sorted(cut) == list(range(len(cut))) and len(cut) > 1, sorted(cut)
assert sorted(cut) + missing == list(range(100)), missing
assert f['missing'][0]['why'] == 'damaged', f['missing'][:2]
bad = [n for n in cut if cut[n] != whole[n]]
assert not bad, (bad, [(n, cut[n], whole[n]) for n in bad[:1]])
)"));
    }
}

// A file name that is not UTF-8 (and a control character) still makes text
// every reader takes: invalid bytes become U+FFFD.
TEST_F(Report, NamesThatAreNotUtf8BecomeText) {
    const std::string name = "bad\xFF\xC3(\x01 \xE2\x82\xAC.mkv";  // stray bytes, a control, a euro sign
    ASSERT_EQ(writeClip(path(name), patternClip(8, 6, 1), 10), "");
    for (const char* out : {"r.csv", "r.json", "r.html"}) {
        const CliResult r = run({"report", name, "-o", out});
        ASSERT_EQ(r.status, 0) << out << ": " << r.err;
    }
    EXPECT_TRUE(python(dir_, R"(
want = 'bad\ufffd\ufffd(\x01 \u20ac.mkv'
assert [r['input'] for r in csv.DictReader(open(d + '/r.csv', encoding='utf-8'))] == [want]
j = json.load(open(d + '/r.json', encoding='utf-8'))
assert j['summary']['files'][0]['input'] == want and j['frames'][0]['input'] == want, j
page = open(d + '/r.html', encoding='utf-8').read()
assert 'bad\ufffd\ufffd(' in page
)"));
}

namespace {

// Made frames for the summary: frame numbers in the source (5 is lost) and,
// per frame, how many of its 8 x 4 pixels lie below 16 and above 235.
constexpr int32_t kSmallW = 8, kSmallH = 4;
constexpr int64_t kNumbers[] = {0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 11};
constexpr int kBelow[] = {0, 2, 0, 0, 1, 3, 0, 0, 3, 1, 0};
constexpr int kAbove[] = {0, 0, 5, 0, 1, 0, 0, 2, 5, 0, 0};

uint32_t countedPixel(int k, int x, int y) {
    const int i = y * kSmallW + x;
    // Black below black, white above white, each frame's own grey elsewhere.
    const uint32_t luma = i < kBelow[k] ? 4 : i < kBelow[k] + kAbove[k] ? 250 : 60 + 10 * k;
    return luma << 16 | 0x8080;
}

}  // namespace

// The worst frame of each measure (the first of tied frames) with its
// picture on the page, and the time ranges that break the range rule: which
// frames join, each range's worst share and end, a lost frame splitting one.
TEST_F(Report, WorstFramesAndRangesOfMadeFrames) {
    ClipPlan plan;
    plan.w = kSmallW;
    plan.h = kSmallH;
    plan.pts.assign(std::begin(kNumbers), std::end(kNumbers));
    plan.range = 1;
    plan.pixel = countedPixel;
    ASSERT_EQ(writePlannedClip(path("made.mkv"), plan), "");
    // Hot pixels: pure red ones among grey.
    const int hot[] = {1, 3, 0, 3, 2};
    std::vector<Image> red;
    for (const int n : hot) {
        red.emplace_back(kSmallW, kSmallH, 0x808080);
        for (int i = 0; i < n; ++i) red.back().px[static_cast<size_t>(i)] = 0xFF0000;
    }
    ASSERT_EQ(writeClip(path("red.mkv"), red, 10), "");

    constexpr double kPixels = kSmallW * kSmallH, kFps = 10.0;
    std::string want;  // "measure frame" lines, then "first last frames start end worst" lines
    const auto firstWorst = [](const int* counts, size_t n) {
        size_t best = 0;
        for (size_t k = 1; k < n; ++k)
            if (counts[k] > counts[best]) best = k;
        return best;
    };
    char line[160];
    std::snprintf(line, sizeof line, "below16_percent %lld\nabove235_percent %lld\n",
                  static_cast<long long>(kNumbers[firstWorst(kBelow, std::size(kNumbers))]),
                  static_cast<long long>(kNumbers[firstWorst(kAbove, std::size(kNumbers))]));
    want += line;
    for (size_t k = 0; k < std::size(kNumbers);) {
        if (kBelow[k] + kAbove[k] == 0) {
            ++k;
            continue;
        }
        size_t last = k;
        // The share outside the range rule: below and above together.
        int worst = kBelow[k] + kAbove[k];
        while (last + 1 < std::size(kNumbers) && kNumbers[last + 1] == kNumbers[last] + 1 &&
               kBelow[last + 1] + kAbove[last + 1] > 0) {
            ++last;
            worst = std::max(worst, kBelow[last] + kAbove[last]);
        }
        std::snprintf(line, sizeof line, "%lld %lld %zu %.3f %.3f %.4f\n",
                      static_cast<long long>(kNumbers[k]), static_cast<long long>(kNumbers[last]),
                      last - k + 1, kNumbers[k] / kFps, (kNumbers[last] + 1) / kFps, 100.0 * worst / kPixels);
        want += line;
        k = last + 1;
    }
    std::snprintf(line, sizeof line, "hot_percent %zu\n", firstWorst(hot, std::size(hot)));
    want += line;

    for (const char* clip : {"made.mkv", "red.mkv"}) {
        const CliResult r = run({"report", clip, "-o", std::string(clip) + ".json"});
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(run({"report", clip, "-o", std::string(clip) + ".html"}).status, 0);
    }
    // The page's figures: each worst frame's waveform, to be compared with a rendering of that frame.
    ASSERT_TRUE(python(dir_, R"py(
import base64, re
out = open(d + '/got.txt', 'w')
for clip, measures in (('made.mkv', ('below16_percent', 'above235_percent')), ('red.mkv', ('hot_percent',))):
    f = json.load(open(d + '/' + clip + '.json'))['summary']['files'][0]
    for m in measures:
        out.write('%s %d\n' % (m, f['worst'][m]['frame']))
    if clip == 'made.mkv':
        for r in f['range_ranges']:
            out.write('%d %d %d %.3f %.3f %.4f\n' % (r['first_frame'], r['last_frame'], r['frames'], r['start'], r['end'], r['worst_percent']))
    page = open(d + '/' + clip + '.html').read()
    for frame, png in re.findall(r'alt="waveform of frame (\d+)" src="data:image/png;base64,([^"]+)"', page):
        open('%s/%s-wave%s.png' % (d, clip, frame), 'wb').write(base64.b64decode(png))
)py"));
    const std::string got = readText("got.txt");
    EXPECT_EQ(got, want);
    // The page shows each worst frame, and its picture is that frame's.
    std::stringstream lines(got);
    for (std::string measure, clip = "made.mkv"; lines >> measure;) {
        if (!std::isalpha(static_cast<unsigned char>(measure[0]))) {
            std::getline(lines, measure);
            continue;
        }
        std::string frame;
        lines >> frame;
        if (measure == "hot_percent") clip = "red.mkv";
        SCOPED_TRACE(clip + " " + measure + " " + frame);
        const Decoded figure = decodeFile(path(clip + "-wave" + frame + ".png"));
        ASSERT_EQ(figure.frames.size(), 1u) << figure.error;
        char at[16];
        std::snprintf(at, sizeof at, "%.1f", std::stoi(frame) / kFps);  // by time: frame 5 is lost
        const CliResult r = run({clip, "-d", "waveform", "-ss", at, "-frames", "1", "-o", "w.png", "-y"});
        ASSERT_EQ(r.status, 0) << r.err;
        const Decoded rendered = decodeFile(path("w.png"));
        ASSERT_EQ(rendered.frames.size(), 1u) << rendered.error;
        EXPECT_TRUE(samePicture(figure.frames[0], rendered.frames[0]));
    }
}

// The page as a person sees it, in a real browser: each worst frame's
// waveform at its natural size (its labels readable; the cell scrolls),
// every per-frame chart drawn in level and upright steps only, and the
// --crop region outlined where it lies on the picture.
TEST_F(Report, PageShowsWaveformsWholeChartsInStepsAndTheRegion) {
    if (std::system("command -v chromium >/dev/null") != 0) GTEST_SKIP() << "chromium is not installed";
    ClipPlan plan;
    plan.w = 160;
    plan.h = 90;
    plan.pts = {0, 1, 2, 3, 4, 5, 6};
    plan.range = 1;
    plan.pixel = busyPixel;
    ASSERT_EQ(writePlannedClip(path("a.mkv"), plan), "");
    const CliResult r = run({"report", "a.mkv", "--crop", "40:30:100:50", "-o", "r.html"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The page runs nothing of its own: the measuring script is added to a copy.
    const std::string probe = R"(<script>addEventListener('load', () => {
const waves = [...document.querySelectorAll('.wave img')];
const whole = waves.length > 0 && waves.every(i => i.naturalWidth > 0 &&
    i.clientWidth == i.naturalWidth && i.clientHeight == i.naturalHeight);
const paths = [...document.querySelectorAll('svg path')];
const stepped = paths.length == 4 && paths.every(p => /^M[-\d.]+,[-\d.]+([HV][-\d.]+)+Z?$/.test(p.getAttribute('d')));
const shots = [...document.querySelectorAll('.shot')];
const placed = shots.length > 0 && shots.every(s => {
  const i = s.querySelector('img').getBoundingClientRect(), o = s.querySelector('.roi').getBoundingClientRect();
  const near = (a, b) => Math.abs(a - b) <= 1;
  return near(o.left - i.left, i.width * 100 / 160) && near(o.top - i.top, i.height * 50 / 90) &&
         near(o.width, i.width * 40 / 160) && near(o.height, i.height * 30 / 90);
});
document.title = 'whole=' + whole + ' stepped=' + stepped + ' placed=' + placed;
});</script>)";
    writeText("t.html", readText("r.html") + probe);
    const std::string browse =
        "cd " + dir_ +
        " && chromium --headless --no-sandbox --disable-gpu --virtual-time-budget=3000 "
        "--window-size=800,600 --dump-dom file://" +
        dir_ + "/t.html >dom.html 2>log.txt";
    ASSERT_EQ(std::system(browse.c_str()), 0);
    const std::string dom = readText("dom.html");
    EXPECT_NE(dom.find("<title>whole=true stepped=true placed=true</title>"), std::string::npos)
        << dom.substr(0, dom.find("</title>") + 8);
    EXPECT_NE(readText("r.html").find("40×30 at 100,50"), std::string::npos);
}
