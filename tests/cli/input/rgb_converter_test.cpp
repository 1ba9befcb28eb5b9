// The conversion of the source's levels to the module's RGB, against a
// double-precision reference, and what each display is handed.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <thread>
#include <vector>

#include "cli/support/cli_runner.h"
#include "cli/support/media.h"
#include "convert/frame_converter.h"
#include "input/input.h"
#include "input/rgb_converter.h"
#include "os/slice_workers.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

namespace {

struct Weights {
    YuvMatrix matrix;
    double kr, kb;
    const char* name;
};
constexpr Weights kWeights[] = {
    {YuvMatrix::Bt601, 0.299, 0.114, "601"},
    {YuvMatrix::Bt709, 0.2126, 0.0722, "709"},
    {YuvMatrix::Bt2020, 0.2627, 0.0593, "2020"},
};

// R, G and B levels of one YUV triple, as exact as doubles go.
void reference(const Weights& w, bool fullIn, bool studioOut, int y, int cb, int cr, int rgb[3]) {
    const double yn = fullIn ? y / 255.0 : (y - 16) / 219.0;
    const double chroma = fullIn ? 255.0 : 224.0;
    const double pb = (cb - 128) / chroma, pr = (cr - 128) / chroma;
    const double r = yn + 2 * (1 - w.kr) * pr;
    const double b = yn + 2 * (1 - w.kb) * pb;
    const double g = (yn - w.kr * r - w.kb * b) / (1 - w.kr - w.kb);
    const double v[3] = {r, g, b};
    for (int i = 0; i < 3; ++i) {
        const double level = studioOut ? 16 + 219 * v[i] : 255 * v[i];
        rgb[i] = static_cast<int>(std::lround(std::fmin(255.0, std::fmax(0.0, level))));
    }
}

// 0x00RRGGBB of one YUV triple.
uint32_t referencePixel(const Weights& w, bool fullIn, bool studioOut, int y, int cb, int cr) {
    int rgb[3];
    reference(w, fullIn, studioOut, y, cb, cr, rgb);
    return static_cast<uint32_t>(rgb[0] << 16 | rgb[1] << 8 | rgb[2]);
}

bool withinLevels(uint32_t a, uint32_t b, int levels) {
    for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>(a >> shift & 0xFF) - static_cast<int>(b >> shift & 0xFF)) > levels)
            return false;
    return true;
}

bool withinOneLevel(uint32_t a, uint32_t b) { return withinLevels(a, b, 1); }

// AVColorSpace and AVColorRange numbers, as the container stores them.
constexpr int kUntagged = 2, kTag709 = 1, kTvRange = 1, kPcRange = 2;

class Source : public CliTest {
protected:
    Decoded runAndDecode(const Args& args, const std::string& out, const std::string& stdinFile = "") {
        SCOPED_TRACE("kivrel " + testing::PrintToString(args));
        const CliResult r = runKivrel(args, dir_, false, stdinFile);
        lastErr_ = r.err;
        EXPECT_EQ(r.status, 0) << r.err;
        return decodeFile(path(out));
    }
    std::string lastErr_;
};

struct OwnedFrame {
    AVFrame* f = av_frame_alloc();
    ~OwnedFrame() { av_frame_free(&f); }
};

}  // namespace

// Every Y with a dense grid of Cb and Cr (every third level, both ends
// included), in 4:4:4 (the conversion sweep takes subsampled chroma through
// its interpolation against numpy).
TEST(Levels, ConversionIsWithinOneLevelOfTheReference) {
    constexpr int kStep = 3, kSteps = 255 / kStep + 1;
    constexpr int kW = 256, kH = 2 * kSteps * kSteps;
    auto ycc = [](int x, int y, int& Y, int& cb, int& cr) {
        const int pair = y / 2;
        Y = x, cb = pair % kSteps * kStep, cr = pair / kSteps * kStep;
    };
    for (const AVPixelFormat fmt : {AV_PIX_FMT_YUV444P}) {
        OwnedFrame in;
        in.f->format = fmt;
        in.f->width = kW;
        in.f->height = kH;
        ASSERT_GE(av_frame_get_buffer(in.f, 0), 0);
        const bool sub = fmt == AV_PIX_FMT_YUV420P;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                int Y = 0, cb = 0, cr = 0;
                ycc(x, y, Y, cb, cr);
                in.f->data[0][y * in.f->linesize[0] + x] = static_cast<uint8_t>(Y);
                const int cx = sub ? x / 2 : x, cy = sub ? y / 2 : y;
                in.f->data[1][cy * in.f->linesize[1] + cx] = static_cast<uint8_t>(cb);
                in.f->data[2][cy * in.f->linesize[2] + cx] = static_cast<uint8_t>(cr);
            }
        std::vector<uint32_t> out(static_cast<size_t>(kW) * kH);
        for (const Weights& w : kWeights)
            for (const bool fullIn : {false, true})
                for (const bool studio : {false, true}) {
                    if (studio && fullIn) continue;  // studio RGB is made from limited range only
                    SCOPED_TRACE(std::string(w.name) + (fullIn ? " pc" : " tv") +
                                 (studio ? " studio" : " full") + (sub ? " 4:2:0" : " 4:4:4"));
                    SourceLevels levels;
                    levels.yuv = true;
                    levels.matrix = w.matrix;
                    levels.fullRange = fullIn;
                    RgbConverter conv;
                    ASSERT_TRUE(conv.convert(*in.f, levels, studio ? RgbLevels::Studio : RgbLevels::Full,
                                             reinterpret_cast<uint8_t*>(out.data()), kW * 4)
                                    .ok());
                    int worst = 0, failures = 0;
                    for (int y = 0; y < kH; ++y)
                        for (int x = 0; x < kW; ++x) {
                            int Y = 0, cb = 0, cr = 0, want[3];
                            ycc(x, y, Y, cb, cr);
                            reference(w, fullIn, studio, Y, cb, cr, want);
                            const uint32_t px = out[static_cast<size_t>(y) * kW + x];
                            const int got[3] = {static_cast<int>(px >> 16 & 0xFF),
                                                static_cast<int>(px >> 8 & 0xFF),
                                                static_cast<int>(px & 0xFF)};
                            for (int c = 0; c < 3; ++c) {
                                const int d = std::abs(got[c] - want[c]);
                                if (d > worst) worst = d;
                                if (d > 1 && ++failures <= 3)
                                    ADD_FAILURE() << "Y " << Y << " Cb " << cb << " Cr " << cr << " channel "
                                                  << c << ": " << got[c] << ", want " << want[c];
                            }
                        }
                    EXPECT_LE(worst, 1) << failures << " levels off by more than one";
                }
    }
}

// A limited-range ramp, Y 0 to 255 across, grey: each display gets exactly
// the RGB an RGB clip of the expected levels gives it. With 16-235 the video
// view, histograms and waveform see every level as it is (0..15 and 236..255
// included); the vectorscope, the hot pixel scan and 0-255 get full range.
TEST_F(Source, LimitedRampReachesEachDisplayAtItsLevels) {
    ClipPlan ramp;
    ramp.w = 256;
    ramp.h = 8;
    ramp.colorspace = kTag709;
    ramp.range = kTvRange;
    ramp.pixel = [](int, int x, int) { return static_cast<uint32_t>(x) << 16 | 0x8080; };
    ASSERT_EQ(writePlannedClip(path("ramp.mkv"), ramp), "");
    ClipPlan rgb = ramp;
    rgb.rgb = true;
    rgb.colorspace = kUntagged;
    rgb.range = 0;
    rgb.pixel = [](int, int x, int) { return static_cast<uint32_t>(x) * 0x010101; };
    ASSERT_EQ(writePlannedClip(path("studio.mkv"), rgb), "");
    rgb.pixel = [](int, int x, int) { return referencePixel(kWeights[1], false, false, x, 128, 128); };
    ASSERT_EQ(writePlannedClip(path("full.mkv"), rgb), "");
    for (const char* display : {"video", "waveform", "histograms", "vectorscope", "hotpixel"})
        for (const char* range : {"16-235", "0-255"}) {
            const std::string d = display, rg = range;
            const bool studio = rg == "16-235" && d != "vectorscope" && d != "hotpixel";
            SCOPED_TRACE(d + " " + rg);
            const Args settings = {"-d", display, "--range", range, "--matrix", "709", "-y", "-frames", "1"};
            Args args = {"ramp.mkv", "-o", "got.png"};
            args.insert(args.end(), settings.begin(), settings.end());
            const Decoded got = runAndDecode(args, "got.png");
            args = {studio ? "studio.mkv" : "full.mkv", "-o", "want.png"};
            args.insert(args.end(), settings.begin(), settings.end());
            const Decoded want = runAndDecode(args, "want.png");
            ASSERT_EQ(got.frames.size(), 1u);
            ASSERT_EQ(want.frames.size(), 1u);
            EXPECT_TRUE(samePicture(got.frames[0], want.frames[0]));
        }
}

// The picture passed through is for the eye: full range, as players show
// it, whatever the filter's range, alone (-d picture, -d passthru,
// --passthru) or as a monitor's tile beside displays that get studio RGB.
TEST_F(Source, ThePictureIsFullRangeAsPlayersShowIt) {
    ClipPlan ramp;
    ramp.w = 256;
    ramp.h = 2;
    ramp.colorspace = kTag709;
    ramp.range = kTvRange;
    ramp.pixel = [](int, int x, int) { return static_cast<uint32_t>(x) << 16 | 0x8080; };
    ASSERT_EQ(writePlannedClip(path("ramp.mkv"), ramp), "");
    const Args ways[] = {{"-d", "picture"},
                         {"-d", "passthru"},
                         {"-d", "waveform", "--passthru"},
                         {"-d", "picture,waveform"},
                         {"-d", "passthru,waveform", "--layout", "column"}};
    for (const Args& way : ways)
        for (const char* range : {"16-235", "0-255"}) {
            Args args = {"ramp.mkv", "--range", range, "-o", "out.png", "-y", "-frames", "1"};
            args.insert(args.end(), way.begin(), way.end());
            const Decoded d = runAndDecode(args, "out.png");
            ASSERT_EQ(d.frames.size(), 1u);
            for (int x = 0; x < 256; ++x) {
                // Y' 16 is black, 235 white; beyond them clipped.
                const long level = std::lround(std::clamp((x - 16) * 255.0 / 219.0, 0.0, 255.0));
                ASSERT_EQ(d.frames[0].at(x, 1), static_cast<uint32_t>(level) * 0x010101)
                    << "Y' " << x << " " << testing::PrintToString(args);
            }
        }
}

// The matrix and range as tagged, as assumed when untagged, and as the
// user overrides them; the summary says what was assumed.
TEST_F(Source, TagsUntaggedRuleAndOverridesPickTheConversion) {
    constexpr int kY = 110, kCb = 100, kCr = 170;  // off the grey axis, so the matrix shows
    struct Case {
        int rows, colorspace, range;
        Args extra;
        int weights;  // index into kWeights
        bool full;
        const char* summary;
    };
    const Case cases[] = {
        {480, kUntagged, 0, {}, 0, false, "read as BT.601 (untagged), limited range (untagged)"},
        {720, kUntagged, 0, {}, 1, false, "read as BT.709 (untagged), limited range (untagged)"},
        {480, kTag709, kTvRange, {}, 1, false, "read as BT.709, limited range"},
        {480, kTag709, kPcRange, {}, 1, true, "read as BT.709, full range"},
        {720,
         kUntagged,
         0,
         {"--input-matrix", "2020"},
         2,
         false,
         "read as BT.2020, limited range (untagged)"},
        {480, kTag709, kPcRange, {"--input-range", "mpeg"}, 1, false, "read as BT.709, limited range"},
        {480,
         kTag709,
         kTvRange,
         {"--input-range", "pc", "--input-matrix", "601"},
         0,
         true,
         "read as BT.601, full range"},
    };
    for (const Case& c : cases) {
        ClipPlan plan;
        plan.w = 2;
        plan.h = c.rows;
        plan.colorspace = c.colorspace;
        plan.range = c.range;
        plan.pixel = [](int, int, int) { return static_cast<uint32_t>(kY << 16 | kCb << 8 | kCr); };
        ASSERT_EQ(writePlannedClip(path("in.mkv"), plan), "");
        Args args = {"in.mkv", "--passthru", "--range", "0-255", "-o", "out.png", "-y", "-frames", "1"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        SCOPED_TRACE(testing::PrintToString(args) + " rows " + std::to_string(c.rows));
        const Decoded d = runAndDecode(args, "out.png");
        ASSERT_EQ(d.frames.size(), 1u);
        const uint32_t want = referencePixel(kWeights[c.weights], c.full, false, kY, kCb, kCr);
        EXPECT_TRUE(withinOneLevel(d.frames[0].at(1, c.rows - 1), want))
            << std::hex << d.frames[0].at(1, c.rows - 1) << ", want " << want;
        EXPECT_NE(lastErr_.find(c.summary), std::string::npos) << lastErr_;
    }
}

// Every level of each deep format FFmpeg's decoders hand over (9 to 16
// bits; Y'CbCr, grey and RGB; planar and packed; both byte orders) reaches
// the picture rounded to the nearest 8-bit level. Python works each level
// out from FFmpeg's own decoding of the file (deep_ramp.py): the picture of
// grey and RGB exactly, of Y'CbCr within two levels of an 8-bit twin of the
// rounded samples shown through the 8-bit path: the deeper chroma keeps its
// quarters, where the twin's half a level of Cb moves blue by a level (the
// conversion sweep holds deep Y'CbCr to one level of numpy's own). Untagged
// grey is full range.
TEST_F(Source, DeepSourcesRoundEveryLevelToTheNearest) {
    struct Case {
        const char *format, *container, *range;
        bool limited;
    };
    const Case cases[] = {
        {"yuv420p9le", "mkv", "none", true},  {"yuv420p10le", "mkv", "none", true},
        {"yuv422p10le", "mkv", "pc", false},  {"yuv444p12le", "mkv", "tv", true},
        {"yuv420p12le", "mkv", "pc", false},  {"yuv444p14le", "mkv", "none", true},
        {"yuv422p16le", "mkv", "none", true}, {"yuv420p16le", "mkv", "pc", false},
        {"yuv420p10be", "nut", "none", true}, {"gray9le", "mkv", "none", false},
        {"gray10le", "mkv", "none", false},   {"gray12le", "mkv", "tv", true},
        {"gray14le", "nut", "none", false},   {"gray16le", "mkv", "none", false},
        {"gray16be", "png", "pc", false},     {"ya16be", "png", "pc", false},
        {"gbrp9le", "mkv", "none", false},    {"gbrp10le", "mkv", "none", false},
        {"gbrp12le", "mkv", "none", false},   {"gbrp14le", "mkv", "none", false},
        {"gbrp16le", "mkv", "none", false},   {"gbrap12le", "mkv", "none", false},
        {"rgb48le", "nut", "none", false},    {"rgb48be", "png", "pc", false},
        {"rgba64le", "nut", "none", false},   {"bgr48le", "nut", "none", false},
    };
    std::string make = "python3 " KIVREL_CLI_TEST_DIR "/input/deep_ramp.py " + dir_;
    for (const Case& c : cases)
        make +=
            " " + std::string(c.format) + ":" + c.container + ":" + c.range + ":" + (c.limited ? "1" : "0");
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
    const Args settings = {"-d", "picture", "-o", "out.png", "-y", "-frames", "1"};
    for (const Case& c : cases) {
        const std::string folder = std::string(c.format) + "-" + c.container + "-" + c.range;
        SCOPED_TRACE(folder);
        Args args = {folder + "/deep." + c.container};
        args.insert(args.end(), settings.begin(), settings.end());
        const Decoded got = runAndDecode(args, "out.png");
        ASSERT_EQ(got.frames.size(), 1u);
        const Image& img = got.frames[0];
        const std::string want = readText(folder + "/want.rgb");
        if (want.empty()) {
            args[0] = folder + "/twin.mkv";
            const Decoded twin = runAndDecode(args, "out.png");
            ASSERT_EQ(twin.frames.size(), 1u);
            ASSERT_EQ(twin.frames[0].px.size(), img.px.size());
            int far = 0;
            for (size_t i = 0; i < img.px.size(); ++i)
                if (!withinLevels(img.px[i], twin.frames[0].px[i], 2) && ++far <= 3)
                    ADD_FAILURE() << "pixel " << i << ": " << std::hex << img.px[i] << ", twin "
                                  << twin.frames[0].px[i];
            EXPECT_EQ(far, 0);
            continue;
        }
        ASSERT_EQ(want.size(), img.px.size() * 3);
        int wrong = 0;
        for (size_t i = 0; i < img.px.size(); ++i) {
            const auto* rgb = reinterpret_cast<const uint8_t*>(want.data() + 3 * i);
            const uint32_t word = uint32_t{rgb[0]} << 16 | uint32_t{rgb[1]} << 8 | rgb[2];
            if ((img.px[i] & 0xFFFFFF) != word && ++wrong <= 3)
                ADD_FAILURE() << "pixel " << i << ": " << std::hex << img.px[i] << ", want " << word;
        }
        EXPECT_EQ(wrong, 0);
    }
}

// Timestamps as the source has them: a variable-rate clip keeps its times,
// a skipped damaged frame its gap.
TEST_F(Source, VariableRateClipKeepsItsTimes) {
    ClipPlan plan;
    plan.pts = {0, 100, 150, 400, 1000};
    plan.tbDen = 1000;
    plan.fps = 0;
    plan.rgb = true;
    plan.pixel = [](int k, int x, int y) { return patternFrame(16, 16, k).at(x, y); };
    ASSERT_EQ(writePlannedClip(path("vfr.mkv"), plan), "");
    const Decoded d = runAndDecode({"vfr.mkv", "-d", "video", "--passthru", "-o", "out.mkv"}, "out.mkv");
    ASSERT_EQ(d.times.size(), plan.pts.size());
    for (size_t k = 0; k < d.times.size(); ++k) {
        EXPECT_NEAR(d.times[k], static_cast<double>(plan.pts[k]) / 1000, 1e-3) << k;
        EXPECT_TRUE(samePicture(d.frames[k], patternFrame(16, 16, static_cast<int>(k)))) << k;
    }
}

// A display matrix turns the picture as players show it (unless
// -noautorotate); the sample aspect ratio goes with the picture's geometry.
TEST_F(Source, RotationAndAspectRatio) {
    struct Case {
        int rotation;
        bool keep;  // -noautorotate
    };
    constexpr int kW = 24, kH = 16;
    auto source = [](int x, int y) { return patternFrame(kW, kH, 0).at(x, y); };
    for (const Case c : {Case{90, false}, Case{180, false}, Case{270, false}, Case{90, true}}) {
        SCOPED_TRACE(std::to_string(c.rotation) + (c.keep ? " kept" : ""));
        ClipPlan plan;
        plan.w = kW;
        plan.h = kH;
        plan.rgb = true;
        plan.rotation = c.rotation;
        plan.pixel = [](int, int x, int y) { return patternFrame(kW, kH, 0).at(x, y); };
        ASSERT_EQ(writePlannedClip(path("turned.mov"), plan), "");
        Args args = {"turned.mov", "-d", "video", "--passthru", "-o", "out.png", "-y", "-frames", "1"};
        if (c.keep) args.push_back("-noautorotate");
        const Decoded d = runAndDecode(args, "out.png");
        ASSERT_EQ(d.frames.size(), 1u);
        const Image& img = d.frames[0];
        const bool sideways = !c.keep && c.rotation != 180;
        ASSERT_EQ(img.w, sideways ? kH : kW);
        ASSERT_EQ(img.h, sideways ? kW : kH);
        for (int y = 0; y < img.h; ++y)
            for (int x = 0; x < img.w; ++x) {
                const int turn = c.keep ? 0 : c.rotation;
                const uint32_t want = turn == 0     ? source(x, y)
                                      : turn == 90  ? source(y, kH - 1 - x)
                                      : turn == 180 ? source(kW - 1 - x, kH - 1 - y)
                                                    : source(kW - 1 - y, x);
                ASSERT_EQ(img.at(x, y), want) << x << "," << y;
            }
    }
    ClipPlan plan;
    plan.sarNum = 16;
    plan.sarDen = 11;
    plan.rgb = true;
    plan.pixel = [](int, int x, int y) { return patternFrame(16, 16, 0).at(x, y); };
    ASSERT_EQ(writePlannedClip(path("wide.mkv"), plan), "");
    for (const char* display : {"video", "hotpixel", "waveform"}) {
        SCOPED_TRACE(display);
        const Decoded d = runAndDecode({"wide.mkv", "-d", display, "-o", "out.mkv", "-y"}, "out.mkv");
        const bool passes = std::string(display) != "waveform";
        EXPECT_EQ(d.sarNum * (passes ? 11 : 1), d.sarDen * (passes ? 16 : 1));
    }
}

// Inputs as FFmpeg takes them: a numbered image sequence from a given
// number, standard input, a FIFO.
TEST_F(Source, SequenceStdinAndFifoInputs) {
    const std::vector<Image> clip = patternClip(8, 6, 3);
    for (int k = 0; k < 3; ++k)
        ASSERT_TRUE(writePng(path("seq_00" + std::to_string(k + 7) + ".png"), clip[static_cast<size_t>(k)]));
    ASSERT_EQ(writeClip(path("clip.mkv"), clip, 10), "");
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    std::thread feeder([this] { std::ofstream(path("fifo"), std::ios::binary) << readText("clip.mkv"); });
    struct Case {
        Args input;
        std::string stdinFile;
    };
    const Case cases[] = {
        {{"seq_%03d.png", "-start_number", "7"}, ""},
        {{"-"}, path("clip.mkv")},
        {{"pipe:"}, path("clip.mkv")},
        {{"fifo"}, ""},
    };
    for (const Case& c : cases) {
        Args args = c.input;
        for (const char* a : {"-d", "video", "--passthru", "-o", "out.mkv", "-y"}) args.push_back(a);
        const Decoded d = runAndDecode(args, "out.mkv", c.stdinFile);
        ASSERT_EQ(d.frames.size(), clip.size()) << testing::PrintToString(args);
        for (size_t k = 0; k < clip.size(); ++k) EXPECT_TRUE(samePicture(d.frames[k], clip[k])) << k;
    }
    feeder.join();
}

// A frame converted band by band at two levels, from two threads, is the
// frame read whole: rows converted where they lie (4:2:0 with bands
// starting on odd rows, 4:4:4), and frames the reader converts whole first
// (RGB, a turned picture, the test card).
TEST_F(Source, BandsFromTwoThreadsAreTheWholeFrame) {
    struct Kind {
        const char* file;
        bool rgb, chroma420;
        int rotation;
    };
    const Kind kinds[] = {{"yuv420.mkv", false, true, 0},
                          {"yuv444.mkv", false, false, 0},
                          {"rgb.mkv", true, false, 0},
                          {"turned.mkv", false, true, 90},
                          {"", false, false, 0}};
    const RgbLevels levels[] = {RgbLevels::Studio, RgbLevels::Full};
    for (const Kind& kind : kinds) {
        const bool card = kind.file[0] == '\0';
        SCOPED_TRACE(card ? "test card" : kind.file);
        ReaderParams params;
        if (!card) {
            ClipPlan plan;
            plan.w = 37;
            plan.h = 29;
            plan.pts = {0, 1, 2};
            plan.range = kTvRange;
            plan.rgb = kind.rgb;
            plan.chroma420 = kind.chroma420;
            plan.rotation = kind.rotation;
            plan.pixel = [](int k, int x, int y) {
                return (static_cast<uint32_t>(x * 2654435761u + y * 40503u + k * 977u) >> 5) & 0xFFFFFF;
            };
            ASSERT_EQ(writePlannedClip(path(kind.file), plan), "");
            params.path = path(kind.file);
        }
        const std::string_view name = card ? kTestCardReaderName : kMediaReaderName;
        std::unique_ptr<Reader> whole, banded;
        ASSERT_TRUE(openReader(name, params, whole).ok());
        ASSERT_TRUE(openReader(name, params, banded).ok());
        FrameConverter wholeConverter(whole->info(), 0), bandedConverter(banded->info(), 0);
        const int32_t w = whole->info().w, h = whole->info().h;
        for (int frame = 0;; ++frame) {
            FrameBuffer want[2] = {FrameBuffer(w, h, 4 * w), FrameBuffer(w, h, 4 * w)};
            FrameBuffer got[2] = {FrameBuffer(w, h, 4 * w, 0xDEADBEEF), FrameBuffer(w, h, 4 * w, 0xDEADBEEF)};
            ReadFrame a, b;
            ASSERT_TRUE(whole->read(a).ok());
            ASSERT_TRUE(banded->read(b).ok());
            ASSERT_EQ(a.end, b.end);
            if (a.end) break;
            for (int l = 0; l < 2; ++l)
                ASSERT_TRUE(wholeConverter.convert(whole->picture(), levels[l], want[l]).ok());
            ASSERT_TRUE(bandedConverter.prepareRows(banded->picture(), {levels[0], levels[1]}).ok());
            // Bands of 1 to 5 rows, every other one on the second thread.
            std::vector<std::pair<int32_t, int32_t>> cuts;
            for (int32_t y = 0; y < h; y += cuts.back().second)
                cuts.emplace_back(y, std::min<int32_t>(1 + (y * 7 + frame) % 5, h - y));
            const auto convert = [&](size_t parity) {
                for (size_t i = parity; i < cuts.size(); i += 2)
                    for (int l = 0; l < 2; ++l) {
                        const auto [y, rows] = cuts[i];
                        bandedConverter.rows(levels[l], y, got[l].frame().storedRows(h - y - rows, rows));
                    }
            };
            std::thread second(convert, 1);
            convert(0);
            second.join();
            for (int l = 0; l < 2; ++l)
                EXPECT_TRUE(samePicture(imageOf(got[l].frame()), imageOf(want[l].frame()), 0xFFFFFFFF))
                    << "frame " << frame << ", levels " << l;
        }
    }
}

// The SIMD levels this processor runs, the scalar reference first.
std::vector<SimdLevel> runnableLevels() {
    std::vector<SimdLevel> levels;
    for (int32_t k = 0; k <= static_cast<int32_t>(machineSimdLevel()); ++k)
        levels.push_back(static_cast<SimdLevel>(k));
    return levels;
}

std::string levelsName(const SourceLevels& levels, RgbLevels out) {
    constexpr const char* kMatrices[] = {"601", "709", "2020"};
    return std::string(kMatrices[static_cast<int>(levels.matrix)]) + (levels.fullRange ? " pc" : " tv") +
           (out == RgbLevels::Studio ? " studio" : " full");
}

// A w x h frame of planar YUV in `fmt`, every byte of its planes from `sample`.
template <typename Sample>
bool fillPlanes(OwnedFrame& in, AVPixelFormat fmt, int w, int h, Sample sample) {
    in.f->format = fmt;
    in.f->width = w;
    in.f->height = h;
    if (av_frame_get_buffer(in.f, 0) < 0) return false;
    const int chromaRows = AV_CEIL_RSHIFT(h, av_pix_fmt_desc_get(fmt)->log2_chroma_h);
    for (int p = 0; p < 3; ++p)
        for (int k = 0; k < in.f->linesize[p] * (p == 0 ? h : chromaRows); ++k) in.f->data[p][k] = sample();
    return true;
}

// Subsampled 8-bit YUV, rows shared out among threads, by every row kernel,
// gives exactly what the scalar kernel gives on one thread: at odd sizes
// where the last chroma sample covers fewer pixels, widths on both sides of
// the kernels' steps and runs, and on flat black, flat white and noise.
TEST(Levels, EveryKernelAndThreadGivesTheScalarWordsAtEverySize) {
    constexpr AVPixelFormat kFormats[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV422P,
                                          AV_PIX_FMT_YUV440P, AV_PIX_FMT_YUV411P,  AV_PIX_FMT_YUV410P,
                                          AV_PIX_FMT_YUV444P};
    constexpr int kSizes[][2] = {{1, 1}, {2, 2}, {7, 5}, {33, 17}, {64, 3}, {271, 4}, {530, 2}, {97, 131}};
    enum Fill { kNoise, kBlack, kWhite };
    uint32_t seed = 12345;
    auto random = [&seed] { return static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24); };
    SliceWorkers workers(3);
    av_log_set_level(AV_LOG_QUIET);  // the library's notes on the yuvj formats
    for (const AVPixelFormat fmt : kFormats)
        for (const auto& size : kSizes)
            for (const Fill fill : {kNoise, kBlack, kWhite}) {
                const int w = size[0], h = size[1];
                OwnedFrame in;
                ASSERT_TRUE(fillPlanes(in, fmt, w, h, [&] {
                    return fill == kNoise ? random() : fill == kBlack ? uint8_t{0} : uint8_t{255};
                }));
                for (const bool fullIn : {false, true})
                    for (const RgbLevels out : {RgbLevels::Full, RgbLevels::Studio}) {
                        SourceLevels levels;
                        levels.yuv = true;
                        levels.matrix = YuvMatrix::Bt709;
                        levels.fullRange = fullIn;
                        std::vector<uint32_t> want(static_cast<size_t>(w * h));
                        RgbConverter reference(SimdLevel::Scalar);
                        ASSERT_TRUE(
                            reference
                                .convert(*in.f, levels, out, reinterpret_cast<uint8_t*>(want.data()), w * 4)
                                .ok());
                        for (const SimdLevel simd : runnableLevels()) {
                            SCOPED_TRACE(std::string(av_get_pix_fmt_name(fmt)) + " " + std::to_string(w) +
                                         "x" + std::to_string(h) + " fill " + std::to_string(fill) + " " +
                                         levelsName(levels, out) + " " +
                                         std::string(kSimdLevelNames[static_cast<int>(simd)]));
                            // Bottom-up, as the host's frames are, with a word past each end.
                            std::vector<uint32_t> got(want.size() + 2, 0xDEADBEEF);
                            RgbConverter inPlace(simd);
                            inPlace.setWorkers(&workers);
                            ASSERT_TRUE(inPlace
                                            .convert(*in.f, levels, out,
                                                     reinterpret_cast<uint8_t*>(
                                                         got.data() + 1 + static_cast<size_t>(w * (h - 1))),
                                                     -w * 4)
                                            .ok());
                            ASSERT_EQ(got.front(), 0xDEADBEEF);
                            ASSERT_EQ(got.back(), 0xDEADBEEF);
                            for (int y = 0; y < h; ++y)
                                for (int x = 0; x < w; ++x)
                                    ASSERT_EQ(got[1 + static_cast<size_t>((h - 1 - y) * w + x)],
                                              want[static_cast<size_t>(y * w + x)])
                                        << "at " << x << "," << y;
                        }
                    }
            }
}

// The same at picture sizes, odd both ways, where the taps' regular middle
// meets both edges: noise, the host's kernel.
TEST(Levels, TheHostKernelGivesTheScalarWordsAtPictureSizes) {
    constexpr AVPixelFormat kFormats[] = {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV440P,
                                          AV_PIX_FMT_YUV411P, AV_PIX_FMT_YUV410P};
    constexpr int kSizes[][2] = {{1921, 1081}, {723, 1283}};
    uint32_t seed = 777;
    SourceLevels levels;
    levels.yuv = true;
    levels.fullRange = false;
    for (const AVPixelFormat fmt : kFormats)
        for (const auto& size : kSizes) {
            const int w = size[0], h = size[1];
            SCOPED_TRACE(std::string(av_get_pix_fmt_name(fmt)) + " " + std::to_string(w) + "x" +
                         std::to_string(h));
            OwnedFrame in;
            ASSERT_TRUE(fillPlanes(in, fmt, w, h, [&seed] {
                return static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
            }));
            std::vector<uint32_t> want(static_cast<size_t>(w) * h), got(want.size());
            RgbConverter reference(SimdLevel::Scalar), inPlace;
            ASSERT_TRUE(
                reference
                    .convert(*in.f, levels, RgbLevels::Full, reinterpret_cast<uint8_t*>(want.data()), w * 4)
                    .ok());
            ASSERT_TRUE(
                inPlace.convert(*in.f, levels, RgbLevels::Full, reinterpret_cast<uint8_t*>(got.data()), w * 4)
                    .ok());
            const auto miss = std::mismatch(want.begin(), want.end(), got.begin());
            ASSERT_TRUE(miss.first == want.end()) << "first at pixel " << (miss.first - want.begin()) % w
                                                  << "," << (miss.first - want.begin()) / w;
        }
}

// All 2^24 Y, Cb, Cr triples, once each, through every row kernel and every
// set of tables: the same words as the scalar reference.
TEST(Levels, EveryColourIsTheSameWordThroughEveryKernel) {
    constexpr int kSide = 4096;  // kSide * kSide = 2^24
    constexpr uint32_t kScramble = 2654435761u, kMask = 0xFFFFFF;
    OwnedFrame in;
    in.f->format = AV_PIX_FMT_YUV444P;
    in.f->width = kSide;
    in.f->height = kSide;
    ASSERT_GE(av_frame_get_buffer(in.f, 0), 0);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x) {
            // An odd multiplier permutes the triples, so neighbours differ in all three.
            const uint32_t i =
                (static_cast<uint32_t>(y) * kSide + static_cast<uint32_t>(x)) * kScramble & kMask;
            for (int p = 0; p < 3; ++p)
                in.f->data[p][static_cast<ptrdiff_t>(y) * in.f->linesize[p] + x] =
                    static_cast<uint8_t>(i >> (8 * p));
        }
    std::vector<uint32_t> want(static_cast<size_t>(kSide) * kSide), got(want.size());
    for (const Weights& weights : kWeights)
        for (const bool fullIn : {false, true})
            for (const RgbLevels out : {RgbLevels::Full, RgbLevels::Studio}) {
                SourceLevels levels;
                levels.yuv = true;
                levels.matrix = weights.matrix;
                levels.fullRange = fullIn;
                RgbConverter reference(SimdLevel::Scalar);
                ASSERT_TRUE(
                    reference.convert(*in.f, levels, out, reinterpret_cast<uint8_t*>(want.data()), kSide * 4)
                        .ok());
                for (const SimdLevel simd : runnableLevels()) {
                    SCOPED_TRACE(levelsName(levels, out) + " " +
                                 std::string(kSimdLevelNames[static_cast<int>(simd)]));
                    RgbConverter converter(simd);
                    ASSERT_TRUE(
                        converter
                            .convert(*in.f, levels, out, reinterpret_cast<uint8_t*>(got.data()), kSide * 4)
                            .ok());
                    const auto miss = std::mismatch(want.begin(), want.end(), got.begin());
                    const uint32_t at = static_cast<uint32_t>(miss.first - want.begin()) * kScramble & kMask;
                    ASSERT_TRUE(miss.first == want.end())
                        << "Y, Cb, Cr = " << (at & 0xFF) << ", " << (at >> 8 & 0xFF) << ", " << (at >> 16);
                }
            }
}

// A luma table's line, where one is found, gives every entry exactly; and
// one is found for rounded lines of any slope a table has.
TEST(Levels, LumaLineGivesEveryTableEntry) {
    uint32_t seed = 99;
    auto uniform = [&seed](double lo, double hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + (hi - lo) * (seed >> 8) / double(1 << 24);
    };
    constexpr int kTables = 300;
    constexpr double kUnit = 65536.0;  // 16.16
    int onLine = 0;
    for (int k = 0; k < kTables; ++k) {
        const double slope = uniform(0.5, 1.5) * kUnit, base = uniform(-40.0, 40.0) * kUnit;
        YuvTables t{};
        for (int v = 0; v < YuvTables::kLevels; ++v)
            t.y[v] = static_cast<int32_t>(std::lround(slope * v + base));
        fitLumaLine(t);
        if (!t.yOnLine) continue;
        ++onLine;
        const YuvTables::Line& l = t.yLine;
        for (int v = 0; v < YuvTables::kLevels; ++v)
            ASSERT_EQ(t.y[0] + v * l.slope + ((v * l.fraction + l.fractionBase) >> YuvTables::kLineShift),
                      t.y[v])
                << "slope " << slope << " base " << base << " level " << v;
    }
    EXPECT_GT(onLine, kTables * 9 / 10);
}
