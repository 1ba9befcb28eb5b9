// kivrel report's measures of the source's own Y'CbCr planes at their own
// depth: checked against an independent computation (source_planes.py, exact
// fractions on the samples FFmpeg decodes), and the EBU R 103 boundaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>

#include "cli/support/cli_runner.h"
#include "cli/support/media.h"

namespace {

constexpr int kRuleBroken = 3;

class ReportSource : public CliTest {
protected:
    bool script(const std::string& args) const {
        const std::string command =
            "/usr/bin/python3 " KIVREL_CLI_TEST_DIR "/report/source_planes.py " + args;
        return std::system(command.c_str()) == 0;
    }
    // Runs a Python check on the test's folder (d); true when it passes.
    bool python(const std::string& body) const {
        const std::string command =
            "python3 - " + dir_ + " <<'EOF'\nimport csv, json, sys\nd = sys.argv[1]\n" + body + "\nEOF";
        return std::system(command.c_str()) == 0;
    }
};

struct Clip {
    const char* name;
    const char* format;
    const char* range;
    const char* space;
    int w, h;
    const char* tags = "";  // chroma siting and field order, as source_planes.py make takes them
};

// Odd sizes, so subsampled chroma has a half-covered last sample; each
// subsampling, sited and interlaced as the render reads them.
const Clip kClips[] = {
    {"c8", "yuv420p", "tv", "bt709", 37, 21},
    {"c10", "yuv422p10le", "tv", "bt470bg", 33, 18, "--site center"},
    {"c12", "yuv444p12le", "tv", "bt2020nc", 19, 13},
    {"full10", "yuv420p10le", "pc", "bt709", 23, 15, "--site topleft"},
    {"c411", "yuv411p", "tv", "bt709", 29, 13},
    {"fields", "yuv420p", "tv", "bt470bg", 31, 19, "--fields tt"},
};
constexpr int kFrames = 4;

}  // namespace

TEST_F(ReportSource, MeasuresMatchTheDecodedPlanes) {
    for (const Clip& c : kClips) {
        SCOPED_TRACE(c.name);
        const std::string common = dir_ + " " + c.name + " " + c.format + " " + c.range + " " + c.space + " ";
        ASSERT_TRUE(script("make " + common + std::to_string(c.w) + " " + std::to_string(c.h) + " " +
                           std::to_string(kFrames) + " " + c.tags));
        for (const char* rule : {"strict", "r103"}) {
            SCOPED_TRACE(rule);
            const CliResult r =
                run({"report", std::string(c.name) + ".mkv", "--rule", rule, "-o", "r.csv", "-y"});
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(script("check " + common + rule + " r.csv"));
        }
    }
}

// Frames of 10 x 10 pixels at the R 103 limits and one code value past them:
// one pixel of a hundred outside (exactly 1 %) passes, two break.
TEST_F(ReportSource, R103Boundaries) {
    struct Depth {
        const char* format;
        int bits, lo, hi;  // the limits EBU R 103 tables for this depth
    };
    for (const Depth& depth : {Depth{"yuv444p", 8, 5, 246}, Depth{"yuv444p10le", 10, 20, 984},
                               Depth{"yuv444p12le", 12, 81, 3935}}) {
        SCOPED_TRACE(depth.bits);
        const int grey = 128 << (depth.bits - 8);  // neutral chroma: R = G = B = Y
        const auto px = [&](int y, int n) {
            return std::to_string(y) + "," + std::to_string(grey) + "," + std::to_string(grey) + "," +
                   std::to_string(n);
        };
        // Frame by frame: all at the top limit; 1 % above it; 2 % above it; then the same at the bottom.
        const std::string levels = px(depth.hi, 100) + "|" + px(grey, 99) + ";" + px(depth.hi + 1, 1) + "|" +
                                   px(grey, 98) + ";" + px(depth.hi + 1, 2) + "|" + px(depth.lo, 100) + "|" +
                                   px(grey, 99) + ";" + px(depth.lo - 1, 1) + "|" + px(grey, 98) + ";" +
                                   px(depth.lo - 1, 2);
        ASSERT_TRUE(script("make " + dir_ + " edge " + depth.format + " tv bt709 10 10 6 '" + levels + "'"));
        const CliResult r =
            run({"report", "edge.mkv", "--rule", "r103", "--fail-on", "range", "-o", "r.json", "-y"});
        EXPECT_EQ(r.status, kRuleBroken) << r.err;
        EXPECT_TRUE(python(R"(
j = json.load(open(d + '/r.json'))
f = j['summary']['files'][0]
got = [(x['first_frame'], x['last_frame']) for x in f['range_ranges']]
assert got == [(2, 2), (5, 5)], got
assert [x['outside_percent'] for x in j['frames']] == [0, 1, 2, 0, 1, 2], j['frames']
assert [x['src_r_max'] for x in j['frames']][:3] == [)" +
                           std::to_string(depth.hi) + ", " + std::to_string(depth.hi + 1) + ", " +
                           std::to_string(depth.hi + 1) + R"(], j['frames']
assert j['summary']['rules']['rule'] == 'r103'
assert f['range_rule'] == 'r103: Y )" +
                           std::to_string(depth.lo) + "-" + std::to_string(depth.hi) + ", RGB " +
                           std::to_string(depth.lo) + "-" + std::to_string(depth.hi) + " at " +
                           std::to_string(depth.bits) +
                           R"( bits, more than 1.00 % of a frame', f['range_rule']
)"));
        // The frames that pass alone: nothing breaks.
        const CliResult pass =
            run({"report", "edge.mkv", "--rule", "r103", "--fail-on", "range", "-frames", "2"});
        EXPECT_EQ(pass.status, 0) << pass.err << pass.out;
        // A wider custom area lets the 2 % frames pass; strict finds the first frame (all above 235) outside.
        EXPECT_EQ(run({"report", "edge.mkv", "--rule", "r103", "--area", "2", "--fail-on", "range"}).status,
                  0);
        EXPECT_EQ(run({"report", "edge.mkv", "--fail-on", "range", "-frames", "1"}).status, kRuleBroken);
        EXPECT_EQ(run({"report", "edge.mkv", "--luma-range", "0:255", "--rule", "r103", "--fail-on", "range"})
                      .status,
                  kRuleBroken)
            << "the RGB limits still judge";
    }
}

// Bad rule limits, and the options that only change what a display shows.
TEST_F(ReportSource, BadRuleOptionsAreUsageErrors) {
    for (const Args& args : {Args{"--rule", "ebu"}, Args{"--luma-range", "20"}, Args{"--rgb-range", "9:3"},
                             Args{"--area", "101"}, Args{"--luma-range", "-1:200"}, Args{"-d", "waveform"},
                             Args{"--channels", "luma"}, Args{"--grid"}, Args{"-f", "csv"}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        Args line = {"report", "x.mkv"};
        line.insert(line.end(), args.begin(), args.end());
        const CliResult r = run(line);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_TRUE(r.oneLine()) << r.err;
    }
}

// A file that cannot be read among good ones: its own row, the others
// judged, status 1 (3 only when every file was read); the forms on
// standard output are those written to a file.
TEST_F(ReportSource, UnreadableFileAmongGoodOnes) {
    ASSERT_TRUE(script("make " + dir_ + " good yuv420p tv bt709 12 8 3"));
    writeText("bad.mkv", "not a video\n");
    const Args files = {"good.mkv", "bad.mkv", "good.mkv"};
    for (const char* form : {"csv", "json"}) {
        SCOPED_TRACE(form);
        Args toFile = {"report"}, toOut = {"report"};
        toFile.insert(toFile.end(), files.begin(), files.end());
        toOut.insert(toOut.end(), files.begin(), files.end());
        toFile.insert(toFile.end(), {"--fail-on", "range", "-o", std::string("r.") + form});
        toOut.insert(toOut.end(), {"--fail-on", "range", "-o", "-", "-f", form});
        const CliResult written = run(toFile), printed = run(toOut);
        EXPECT_EQ(written.status, 1) << written.err;
        EXPECT_EQ(printed.status, 1) << printed.err;
        EXPECT_NE(printed.err.find("bad.mkv"), std::string::npos) << printed.err;
        EXPECT_EQ(printed.out, readText(std::string("r.") + form));
    }
    EXPECT_TRUE(python(R"(
rows = list(csv.DictReader(open(d + '/r.csv')))
assert [r['input'] for r in rows] == ['good.mkv'] * 3 + ['bad.mkv'] + ['good.mkv'] * 3, rows
bad = rows[3]
assert bad['missing'].startswith('unreadable: bad.mkv: '), bad
assert all(v == '' for k, v in bad.items() if k not in ('input', 'missing')), bad
j = json.load(open(d + '/r.json'))
v = [(f['input'], f['verdict']) for f in j['summary']['files']]
assert v[1] == ('bad.mkv', 'unreadable') and 'error' in j['summary']['files'][1], v
assert v[0][1] != 'unreadable' and v[2][1] != 'unreadable', v
)"));
    // Every file read and a rule broken: 3; the form of standard output must be named.
    EXPECT_EQ(run({"report", "good.mkv", "--fail-on", "range", "-o", "-", "-f", "csv"}).status, kRuleBroken);
    EXPECT_EQ(run({"report", "good.mkv", "-o", "-"}).status, 2);
    EXPECT_EQ(run({"report", "good.mkv", "-o", "r.csv", "-y", "-f", "csv"}).status, 2);
}

// A PQ or HLG source is named so in every form that describes the file, and
// its range rule says it judged SDR limits on that signal.
TEST_F(ReportSource, HdrSourcesAreNamed) {
    for (const auto& [name, trc] : {std::pair{"PQ", "smpte2084"}, std::pair{"HLG", "arib-std-b67"}}) {
        SCOPED_TRACE(name);
        const std::string make =
            std::string("ffmpeg -v error -y -f lavfi -i color=gray:s=16x8:r=10:d=0.2 ") +
            "-pix_fmt yuv420p10le -c:v ffv1 -colorspace bt2020nc -color_primaries bt2020 "
            "-color_range tv -color_trc " +
            trc + " " + path("hdr.mkv");
        ASSERT_EQ(std::system(make.c_str()), 0);
        const CliResult table = run({"report", "hdr.mkv"});
        ASSERT_EQ(table.status, 0) << table.err;
        EXPECT_NE(table.out.find(std::string("10 bits read as 8, ") + name), std::string::npos) << table.out;
        EXPECT_NE(table.out.find(std::string("on the ") + name + " signal's code values as if SDR"),
                  std::string::npos)
            << table.out;
        ASSERT_EQ(run({"report", "hdr.mkv", "-o", "r.json", "-y"}).status, 0);
        ASSERT_EQ(run({"report", "hdr.mkv", "-o", "r.html", "-y"}).status, 0);
        EXPECT_NE(readText("r.html").find(std::string("as if SDR")), std::string::npos);
        EXPECT_TRUE(python(std::string("f = json.load(open(d + '/r.json'))['summary']['files'][0]\n"
                                       "assert f['assumed']['transfer'] == '") +
                           name +
                           "', f\n"
                           "assert '" +
                           name + " signal' in f['range_rule'], f\n"));
    }
    ASSERT_TRUE(script("make " + dir_ + " sdr yuv420p tv bt709 8 8 1"));
    ASSERT_EQ(run({"report", "sdr.mkv", "-o", "s.json"}).status, 0);
    EXPECT_TRUE(
        python("f = json.load(open(d + '/s.json'))['summary']['files'][0]\n"
               "assert f['assumed']['transfer'] == 'SDR' and 'SDR' not in f['range_rule'], f\n"));
}

// The source's start timecode, from its stream's tag, beside the times.
TEST_F(ReportSource, StartTimecodeIsNamed) {
    const std::string make =
        "ffmpeg -v error -y -f lavfi -i color=gray:s=16x8:r=25:d=0.2 -c:v ffv1 "
        "-metadata:s:v:0 timecode=10:00:00:00 " +
        path("tc.mkv");
    ASSERT_EQ(std::system(make.c_str()), 0);
    const CliResult table = run({"report", "tc.mkv"});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("start timecode             10:00:00:00"), std::string::npos) << table.out;
    ASSERT_EQ(run({"report", "tc.mkv", "-o", "r.html"}).status, 0);
    EXPECT_NE(readText("r.html").find("<td>Start timecode</td><td>10:00:00:00</td>"), std::string::npos);
    ASSERT_EQ(run({"report", "tc.mkv", "-o", "r.json"}).status, 0);
    EXPECT_TRUE(
        python("f = json.load(open(d + '/r.json'))['summary']['files'][0]\n"
               "assert f['start_timecode'] == '10:00:00:00', f\n"));
    // Each CSV row: its own timecode, counted on from the start at the frame
    // rate; at 29.97 tagged drop-frame, the minute's first two numbers left out.
    struct Count {
        const char *rate, *start, *want;
    };
    for (const Count& c :
         {Count{"25", "10:00:00:00", "10:00:00:00 10:00:00:01 10:00:00:02 10:00:00:03 10:00:00:04"},
          Count{"30000/1001", "00:00:59;28", "00:00:59;28 00:00:59;29 00:01:00;02 00:01:00;03"},
          Count{"30000/1001", "00:09:59;29", "00:09:59;29 00:10:00;00 00:10:00;01"},
          Count{"24", "23:59:59:23", "23:59:59:23 00:00:00:00"}}) {
        SCOPED_TRACE(c.start);
        const int frames = static_cast<int>(std::count(c.want, c.want + std::strlen(c.want), ' ')) + 1;
        const std::string clip = "ffmpeg -v error -y -f lavfi -i color=gray:s=16x8:r=" + std::string(c.rate) +
                                 " -frames:v " + std::to_string(frames) +
                                 " -c:v ffv1 -metadata:s:v:0 timecode='" + c.start + "' " + path("tc.mkv");
        ASSERT_EQ(std::system(clip.c_str()), 0);
        ASSERT_EQ(run({"report", "tc.mkv", "-o", "r.csv", "-y"}).status, 0);
        EXPECT_TRUE(
            python(std::string("got = ' '.join(r['timecode'] for r in csv.DictReader(open(d + '/r.csv')))\n"
                               "assert got == '") +
                   c.want + "', got\n"));
    }
}

// --crop: every measure covers the region only. The source's numbers
// against the oracle on the region's pixels (odd edges, so a subsampled
// chroma sample is half inside); and every number of a 4:4:4 clip equal to
// those of the clip FFmpeg cut to the region. (Subsampled chroma is
// interpolated across the region's edge, for the filter's RGB and the
// source's R, G and B alike, so only a 4:4:4 clip's can match a cut clip's.)
TEST_F(ReportSource, CropCoversTheRegionOnly) {
    const std::string region = "11:7:3:5";
    for (const Clip& c : kClips) {
        SCOPED_TRACE(c.name);
        const std::string common = dir_ + " " + c.name + " " + c.format + " " + c.range + " " + c.space + " ";
        ASSERT_TRUE(script("make " + common + std::to_string(c.w) + " " + std::to_string(c.h) + " " +
                           std::to_string(kFrames) + " " + c.tags));
        const CliResult r =
            run({"report", std::string(c.name) + ".mkv", "--crop", region, "-o", "r.csv", "-y"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(script("check " + common + "strict r.csv " + region));
    }
    for (const char* cut : {"11:7:3:5", "iw-8:ih-6:(iw-ow)/2:3"}) {
        SCOPED_TRACE(cut);
        const std::string ffmpeg = "ffmpeg -v error -y -i " + dir_ + "/c12.mkv -vf 'crop=" + cut +
                                   "' -c:v ffv1 " + dir_ + "/cut.mkv";
        ASSERT_EQ(std::system(ffmpeg.c_str()), 0);
        ASSERT_EQ(run({"report", "c12.mkv", "--crop", cut, "-o", "a.csv", "-y"}).status, 0);
        ASSERT_EQ(run({"report", "cut.mkv", "-o", "b.csv", "-y"}).status, 0);
        EXPECT_TRUE(python(R"(a = list(csv.DictReader(open(d + '/a.csv')))
b = list(csv.DictReader(open(d + '/b.csv')))
columns = [k for k in a[0] if k != 'input']
assert len(a) == len(b) == 4, (len(a), len(b))
for x, y in zip(a, b):
    assert [x[k] for k in columns] == [y[k] for k in columns], [(k, x[k], y[k]) for k in columns if x[k] != y[k]]
)"));
    }
    // A region the frame cannot hold: that file is not measured, and its row
    // says why in so many words, through the merge as well.
    const CliResult misfit = run({"report", "c12.mkv", "--crop", "iw+1:ih", "-o", "misfit.json", "-y"});
    EXPECT_EQ(misfit.status, 1) << misfit.err;
    ASSERT_EQ(run({"report", "--merge", "misfit.json", "-o", "misfit.csv"}).status, 1);
    EXPECT_TRUE(python(R"(rows = list(csv.DictReader(open(d + '/misfit.csv')))
assert len(rows) == 1 and any(v.startswith('crop does not fit: --crop iw+1:ih: ') for v in rows[0].values()), rows
)"));
}

// A turned source (a display matrix): --crop's region is of the picture as
// shown, as the render crops it, so every number equals that of the clip
// FFmpeg turns and then cuts to the region.
TEST_F(ReportSource, CropOfATurnedSourceIsOfThePictureAsShown) {
    constexpr int kW = 24, kH = 14;
    const std::string region = "5:9:2:3";  // w:h:x:y, lopsided in every direction
    for (const int rotation : {90, 180, 270}) {
        SCOPED_TRACE(rotation);
        ClipPlan plan;
        plan.w = kW;
        plan.h = kH;
        plan.rotation = rotation;
        plan.pts = {0, 1};
        // Y, Cb and Cr differ in every pixel and frame, levels beyond any rule among them.
        plan.pixel = [](int frame, int x, int y) {
            const uint32_t luma = static_cast<uint32_t>(x * 11 + y * 7 + frame * 5) % 256;
            const uint32_t cb = static_cast<uint32_t>(x * 3 + y * 17) % 256,
                           cr = static_cast<uint32_t>(x * 13 + y) % 256;
            return luma << 16 | cb << 8 | cr;
        };
        ASSERT_EQ(writePlannedClip(path("turned.mov"), plan), "");
        const std::string ffmpeg = "ffmpeg -v error -y -i " + path("turned.mov") + " -vf crop=" + region +
                                   " -c:v ffv1 " + path("cut.mkv");
        ASSERT_EQ(std::system(ffmpeg.c_str()), 0);
        ASSERT_EQ(run({"report", "turned.mov", "--crop", region, "-o", "a.csv", "-y"}).status, 0);
        ASSERT_EQ(run({"report", "cut.mkv", "-o", "b.csv", "-y"}).status, 0);
        EXPECT_TRUE(python(R"(a = list(csv.DictReader(open(d + '/a.csv')))
b = list(csv.DictReader(open(d + '/b.csv')))
columns = [k for k in a[0] if k not in ('input', 'time')]
assert len(a) == len(b) == 2, (len(a), len(b))
for x, y in zip(a, b):
    assert [x[k] for k in columns] == [y[k] for k in columns], [(k, x[k], y[k]) for k in columns if x[k] != y[k]]
)"));
    }
}

// A source coded as RGB: its src_ R, G and B are its own code values at its
// own depth, exactly (a flat colour whose levels the colour names, and
// random planar clips checked against the decoded planes); Y, Cb and Cr it
// has none. The colour is made RGB inside the graph: with `-pix_fmt rgb24`
// alone the frames pass through Y'CbCr on the way, and 0x102030 is written
// as 16, 31, 47.
TEST_F(ReportSource, RgbSourcesShowTheirOwnLevels) {
    const std::string flat =
        "ffmpeg -v error -y -f lavfi -i color=c=0x102030:s=16x16:r=10:d=0.2,format=rgb24 -c:v ffv1 " +
        path("flat.mkv");
    ASSERT_EQ(std::system(flat.c_str()), 0);
    ASSERT_EQ(run({"report", "flat.mkv", "-o", "r.csv"}).status, 0);
    EXPECT_TRUE(python(R"(rows = list(csv.DictReader(open(d + '/r.csv')))
want = {'src_r_min': '16', 'src_r_max': '16', 'src_g_min': '32', 'src_g_max': '32', 'src_b_min': '48',
        'src_b_max': '48', 'src_y_min': '-1', 'src_y_max': '-1', 'src_cb_min': '-1', 'src_cr_max': '-1'}
assert rows and all({k: r[k] for k in want} == want for r in rows), rows
)"));
    EXPECT_TRUE(script("check " + dir_ + " flat gbrp pc rgb strict r.csv"));
    for (const char* format : {"gbrp", "gbrp10le", "gbrp12le"}) {
        SCOPED_TRACE(format);
        const std::string common = dir_ + " ramp " + format + " pc rgb ";
        ASSERT_TRUE(script("make " + common + "21 11 3"));
        ASSERT_EQ(run({"report", "ramp.mkv", "-o", "r.csv", "-y"}).status, 0);
        EXPECT_TRUE(script("check " + common + "strict r.csv"));
        ASSERT_EQ(run({"report", "ramp.mkv", "--crop", "7:5:3:2", "-o", "r.csv", "-y"}).status, 0);
        EXPECT_TRUE(script("check " + common + "strict r.csv 7:5:3:2"));
    }
}

// The same code values tagged full range and limited are judged alike (the
// rule reads them as broadcast codes them); the full-range file is named so
// in every form, the limited one not.
TEST_F(ReportSource, FullRangeIsJudgedOnItsCodesAndNamed) {
    constexpr const char* kFinding = "full-range Y′CbCr: not a broadcast range";
    for (const char* range : {"tv", "pc"})
        ASSERT_TRUE(script("make " + dir_ + " " + range + " yuv420p10le " + range + " bt709 23 15 4"));
    for (const char* rule : {"strict", "r103"}) {
        SCOPED_TRACE(rule);
        for (const char* range : {"tv", "pc"}) {
            ASSERT_EQ(run({"report", std::string(range) + ".mkv", "--rule", rule, "-o",
                           std::string(range) + ".csv", "-y"})
                          .status,
                      0);
            EXPECT_TRUE(script("check " + dir_ + " " + range + " yuv420p10le " + range + " bt709 " + rule +
                               " " + range + ".csv"));
        }
        EXPECT_TRUE(python(std::string(R"(a = list(csv.DictReader(open(d + '/tv.csv')))
b = list(csv.DictReader(open(d + '/pc.csv')))
judged = [k for k in a[0] if k.startswith('src_') or k == 'outside_percent']
assert len(a) == len(b) == 4
assert [[r[k] for k in judged] for r in a] == [[r[k] for k in judged] for r in b], (a, b)
assert {r['findings'] for r in a} == {''}, a
assert {r['findings'] for r in b} == {')") +
                           kFinding + R"('}, b
)"));
    }
    // A JPEG-range format says so by itself (MJPEG keeps it; FFV1 would not).
    const std::string jpeg =
        "ffmpeg -v error -y -f lavfi -i color=gray:s=16x8:r=10:d=0.2 -pix_fmt yuvj420p -c:v mjpeg " +
        path("j.mkv");
    ASSERT_EQ(std::system(jpeg.c_str()), 0);
    for (const char* input : {"pc.mkv", "j.mkv", "tv.mkv"}) {
        SCOPED_TRACE(input);
        const bool full = std::string(input) != "tv.mkv";
        const CliResult table = run({"report", input});
        ASSERT_EQ(table.status, 0) << table.err;
        EXPECT_EQ(table.out.find(std::string("findings                   ") + kFinding) != std::string::npos,
                  full)
            << table.out;
        ASSERT_EQ(run({"report", input, "-o", "r.html", "-y"}).status, 0);
        EXPECT_EQ(
            readText("r.html").find(std::string("<td>Findings</td><td>") + kFinding) != std::string::npos,
            full);
        ASSERT_EQ(run({"report", input, "-o", "r.json", "-y"}).status, 0);
        EXPECT_TRUE(
            python("f = json.load(open(d + '/r.json'))['summary']['files'][0]\n"
                   "assert f['findings'] == '" +
                   std::string(full ? kFinding : "") + "', f\n"));
    }
}

// --area at a limit that has no exact binary form: a frame with exactly
// that share outside passes, one pixel more breaks. 69 of 60 x 50 pixels
// are 2.3 %, which the comparison in doubles took for more.
TEST_F(ReportSource, AreaLimitHoldsToTheLastPixel) {
    constexpr int kW = 60, kH = 50, kAtLimit = 69;
    const auto frame = [&](int outside) {
        return "1000,512,512," + std::to_string(outside) + ";512,512,512," +
               std::to_string(kW * kH - outside);
    };
    ASSERT_TRUE(script("make " + dir_ + " area yuv444p10le tv bt709 " + std::to_string(kW) + " " +
                       std::to_string(kH) + " 2 '" + frame(kAtLimit) + "|" + frame(kAtLimit + 1) + "'"));
    // Y 1000 is above 940, strict's white at 10 bits.
    const CliResult r = run({"report", "area.mkv", "--area", "2.3", "--fail-on", "range", "-o", "r.json"});
    EXPECT_EQ(r.status, kRuleBroken) << r.err;
    EXPECT_TRUE(python(R"(j = json.load(open(d + '/r.json'))
f = j['summary']['files'][0]
assert [(x['first_frame'], x['last_frame']) for x in f['range_ranges']] == [(1, 1)], f['range_ranges']
assert j['summary']['rules']['area_percent'] == 2.3, j['summary']['rules']
)"));
    // Merged, the same rule and verdict.
    const CliResult merged = run({"report", "--merge", "r.json", "-o", "m.json"});
    EXPECT_EQ(merged.status, kRuleBroken) << merged.err;
    EXPECT_EQ(readText("m.json"), readText("r.json"));
    EXPECT_EQ(run({"report", "area.mkv", "--area", "2.3", "--fail-on", "range", "-frames", "1"}).status, 0);
}

// The worked example of the displays' truncated luma in docs/usage.md,
// rendered here through the filter's own code: the pixel it names must show
// the R, G, B and the luma it quotes, so the sentence cannot go stale.
TEST_F(ReportSource, UsageLumaExampleIsWhatTheFilterShows) {
    // The sentence as a reader takes it, however its lines are broken.
    const std::string usage =
        std::regex_replace(readFile(KIVREL_CLI_TEST_DIR "/../../docs/usage.md"), std::regex(R"(\s+)"), " ");
    const std::regex example(
        R"(Y′CbCr (\d+), (\d+), (\d+) \(BT\.709, limited range, `([^`]*)`\) reaches the filter )"
        R"(as R, G, B (\d+), (\d+), (\d+), whose luma [^=]*= [\d.]+ shows as (\d+)\.)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(usage, m, example)) << "docs/usage.md's example is gone or reworded";
    const auto at = [&](int i) { return std::stoi(m[i].str()); };
    const std::string planes = std::string(64, static_cast<char>(at(1))) +
                               std::string(64, static_cast<char>(at(2))) +
                               std::string(64, static_cast<char>(at(3)));
    writeText("px.yuv", planes);
    const std::string make = "ffmpeg -v error -y -f rawvideo -pix_fmt yuv444p -s 8x8 -i " + path("px.yuv") +
                             " -c:v ffv1 -color_range tv -colorspace bt709 " + path("px.mkv");
    ASSERT_EQ(std::system(make.c_str()), 0);
    Args line = {"report", "px.mkv", "-o", "r.csv", "-y"};
    std::istringstream options(m[4].str());
    for (std::string word; options >> word;) line.push_back(word);
    ASSERT_EQ(run(line).status, 0);
    EXPECT_TRUE(
        python("r = list(csv.DictReader(open(d + '/r.csv')))[0]\n"
               "got = [r[k] for k in ('red_min', 'green_min', 'blue_min', 'luma_min', 'luma_max', "
               "'source_luma_min')]\n"
               "want = ['" +
               m[5].str() + "', '" + m[6].str() + "', '" + m[7].str() + "', '" + m[8].str() + "', '" +
               m[8].str() + "', '" + m[1].str() +
               "']\n"
               "assert got == want, (got, want)\n"));
    // Grey keeps its level: the same Y with neutral chroma shows as itself.
    writeText("px.yuv", std::string(64, static_cast<char>(at(1))) + std::string(128, static_cast<char>(128)));
    ASSERT_EQ(std::system(make.c_str()), 0);
    ASSERT_EQ(run(line).status, 0);
    EXPECT_TRUE(
        python("r = list(csv.DictReader(open(d + '/r.csv')))[0]\n"
               "assert r['luma_min'] == r['source_luma_min'] == '" +
               m[1].str() + "', r\n"));
}
