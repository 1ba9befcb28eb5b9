// The region of interest in FFmpeg's crop syntax: expressions, defaults that
// centre, rounding as FFmpeg rounds, regions that are refused, and FFmpeg's
// own crop as the oracle.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "monitor/crop_expr.h"
#include "os/av_support.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

CropRegion resolved(const std::string& text, int32_t w, int32_t h, Rational sar = {1, 1}) {
    CropRequest request;
    CropRegion r{-1, -1, -1, -1};
    const Status p = parseCropRequest(text, request);
    EXPECT_TRUE(p.ok()) << text << ": " << p.message();
    const Status s = resolveCrop(request, w, h, r, sar);
    EXPECT_TRUE(s.ok()) << text << ": " << s.message();
    return r;
}

}  // namespace

TEST(MonitorCrop, ExpressionsFollowArithmeticRules) {
    const struct {
        const char* expr;
        double value;
    } cases[] = {
        {"1+2*3", 7},         {"(1+2)*3", 9},
        {"10-4-3", 3},        {"24/4/2", 3},
        {"-iw/4", -480},      {"- -2", 2},
        {"in_w-out_w", 1520}, {"ih/2", 540},
        {"2.5*oh", 750},      {"( iw - ow ) / 2", 760},
        {"a*ih", 1920},       {"+3", 3},
    };
    for (const auto& c : cases) {
        double v = 0.0;
        const Status s = evalCropExpr(c.expr, 1920, 1080, 400, 300, v);
        EXPECT_TRUE(s.ok()) << c.expr << ": " << s.message();
        EXPECT_DOUBLE_EQ(v, c.value) << c.expr;
    }
}

TEST(MonitorCrop, RegionsAsFfmpegPlacesThem) {
    EXPECT_EQ(resolved("400:300:760:390", 1920, 1080), (CropRegion{400, 300, 760, 390}));
    // X and Y left out centre the region; 1520/2 and 780/2 are whole.
    EXPECT_EQ(resolved("400:300", 1920, 1080), (CropRegion{400, 300, 760, 390}));
    // Halves round to even as FFmpeg's lrint does: 7.5 -> 8, 2.5 -> 2.
    EXPECT_EQ(resolved("4:4", 19, 9), (CropRegion{4, 4, 8, 2}));
    EXPECT_EQ(resolved("iw/2:ih/2", 1920, 1080), (CropRegion{960, 540, 480, 270}));
    // The width may refer to the height: it is evaluated again after it.
    EXPECT_EQ(resolved("oh*2:ih/3:0:0", 90, 90), (CropRegion{60, 30, 0, 0}));
    EXPECT_EQ(resolved("h=10:w=20:y=ih-oh", 100, 50), (CropRegion{20, 10, 40, 40}));
    EXPECT_EQ(resolved("in_w:in_h", 1, 1), (CropRegion{1, 1, 0, 0}));
    EXPECT_EQ(resolved("1:1:iw-1:ih-1", 7, 5), (CropRegion{1, 1, 6, 4}));
}

TEST(MonitorCrop, BadTextIsAUsageError) {
    routeLibraryLog(AV_LOG_QUIET);  // the host's one line, not FFmpeg's as well
    // Nesting as deep as a command line allows is refused, not followed down the stack.
    const std::string deep = std::string(100000, '(') + "1" + std::string(100000, ')');
    const std::string signs = std::string(100000, '-') + "1";
    const std::vector<std::string> texts = {"",       "400:", "400:300:1:2:3", "4*(2:3", "iw*:3", "q:3",
                                            "400:3x", "z=3",  "1..2:3",        deep,     signs};
    for (const std::string& text : texts) {
        CropRequest request;
        const Status s = parseCropRequest(text, request);
        EXPECT_FALSE(s.ok()) << text.substr(0, 20);
        EXPECT_EQ(s.message().rfind("--crop", 0), 0u) << s.message().substr(0, 80);
    }
}

TEST(MonitorCrop, RegionsOutsideTheFrameOrEmptyAreRefusedNotClamped) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"400:300:1600:390",
         "the region 400x300 at 1600,390 (columns 1600 to 1999, rows 390 to 689) is not "
         "wholly inside the 1920x1080 frame"},
        {"400:300:-1:0", "is not wholly inside"},
        {"400:300:0:781", "is not wholly inside"},
        {"iw+1:ih", "is not wholly inside"},
        {"0:300", "the region 0x300 at 960,390 is empty"},
        {"iw/2:ih-ih", "is empty"},
        {"iw/0:ih", "w = 'iw/0' is not a finite number of pixels"},
        {"100:100:(iw-ow)*ow/0", "x = '(iw-ow)*ow/0' is not a finite number"},
    };
    for (const auto& c : cases) {
        CropRequest request;
        ASSERT_TRUE(parseCropRequest(c.text, request).ok()) << c.text;
        CropRegion r;
        const Status s = resolveCrop(request, 1920, 1080, r);
        EXPECT_FALSE(s.ok()) << c.text;
        EXPECT_NE(s.message().find(c.message), std::string::npos) << s.message();
    }
}

// FFmpeg's evaluator takes its functions and constants, with the crop filter's names.
TEST(MonitorCrop, FfmpegsFunctionsAndNamesAreTaken) {
    const struct {
        const char* expr;
        double value;
    } cases[] = {
        {"min(iw,ih)", 1080}, {"max(ow,oh)", 400}, {"if(gt(iw,ih),ih,iw)", 1080},
        {"trunc(iw/7)", 274}, {"hypot(3,4)", 5},   {"sar", 1},
        {"dar*ih", 1920},     {"hsub*vsub", 1},    {"n", 0},
        {"isnan(t)", 1},      {"isnan(pos)", 1},   {"clip(ow,0,ih/4)", 270},
        {"mod(iw,7)", 2},     {"2^3+1", 9},        {"-3dB", std::pow(10.0, -3.0 / 20.0)},
    };
    for (const auto& c : cases) {
        double v = 0.0;
        const Status s = evalCropExpr(c.expr, 1920, 1080, 400, 300, v);
        EXPECT_TRUE(s.ok()) << c.expr << ": " << s.message();
        EXPECT_DOUBLE_EQ(v, c.value) << c.expr;
    }
    // x may use y and y x, as in FFmpeg; the region's corner is evaluated x, y, x.
    EXPECT_EQ(resolved("10:10:x=y+1:y=7", 30, 30), (CropRegion{10, 10, 8, 7}));
    EXPECT_EQ(resolved("10:10:x=3:y=x*2", 30, 30), (CropRegion{10, 10, 3, 6}));
}

// Bad expressions are refused with FFmpeg's reason in the host's words.
TEST(MonitorCrop, BadExpressionsSayWhy) {
    routeLibraryLog(AV_LOG_QUIET);  // FFmpeg's complaint is taken from its log, as the host routes it
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"4*(2:3", "--crop: '4*(2': a ')' is missing"},
        {"ow:oh:x", "--crop: 'x': unknown name 'x'"},  // x is not the corner's own input
        {"w=y", "--crop: 'y': unknown name 'y'"},      // nor the size's
        {"q:3", "unknown name 'q' (in_w, iw, in_h, ih, out_w, ow"},
        {"iw*:3", "--crop: 'iw*': the expression ends too early"},
        {"400:3)", "--crop: '3)': unexpected ')'"},
        {"nosuch(1):3", "unknown function 'nosuch'"},
        {"min(1):3", "not an expression FFmpeg's evaluator reads"},
    };
    for (const auto& c : cases) {
        CropRequest request;
        const Status s = parseCropRequest(c.text, request);
        EXPECT_FALSE(s.ok()) << c.text;
        EXPECT_NE(s.message().find(c.message), std::string::npos) << c.text << ": " << s.message();
    }
}

// FFmpeg's own crop (exact, so no chroma rounding) over a frame whose luma is
// the column and whose Cb is the row: each output's first sample tells x and
// y, its first row's run the width, its size the height. One ffmpeg run.
TEST(MonitorCrop, RegionsAgreeWithFfmpegsCrop) {
    constexpr int32_t kW = 97, kH = 61;  // odd sides: halves to round
    constexpr Rational kSar = {16, 15};  // PAL 4:3's pixels
    const std::vector<std::string> exprs = {
        "min(iw\\,ih):min(iw\\,ih)",
        "iw/2.5:ih/3",
        "w=10.6:h=10:x=ow*3:y=0",
        "in_w-2*10:in_h-2*20",
        "2/3*in_w:2/3*in_h",
        "iw/2:ih/2:iw/2:ih/2",
        "trunc(iw/3):if(gt(iw\\,ih)\\,ih/2\\,ih):x=y:y=7",
        "hypot(3\\,4)*4:ih/4:mod(17\\,5):n",
        "ih*sar:ih/2",
        "floor(iw/4)*2:clip(200\\,0\\,ih-1):(iw-ow)/4:0",
        "ih*dar/2:ih/2",  // the display's shape: sar and dar
        "iw/sar:ih/2",
    };
    const std::string dir = testing::TempDir();
    std::string graph =
        "nullsrc=s=" + std::to_string(kW) + "x" + std::to_string(kH) +
        ",setsar=16/15,format=yuv444p,geq=lum=X:cb=Y:cr=128,split=" + std::to_string(exprs.size());
    std::string maps;
    for (size_t i = 0; i < exprs.size(); ++i) graph += "[s" + std::to_string(i) + "]";
    for (size_t i = 0; i < exprs.size(); ++i) {
        const std::string n = std::to_string(i);
        graph += ";[s" + n + "]crop=" + exprs[i] + ":exact=1[o" + n + "]";
        maps += " -map '[o" + n + "]' -frames:v 1 -f rawvideo -y " + dir + "crop" + n + ".yuv";
    }
    const std::string cmd = "ffmpeg -v error -filter_complex '" + graph + "'" + maps;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    for (size_t i = 0; i < exprs.size(); ++i) {
        std::string expr = exprs[i];  // unescaped: the commas were the filter graph's
        for (size_t at; (at = expr.find("\\,")) != std::string::npos;) expr.erase(at, 1);
        SCOPED_TRACE(expr);
        std::ifstream in(dir + "crop" + std::to_string(i) + ".yuv", std::ios::binary);
        const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_FALSE(raw.empty());
        constexpr size_t kPlanes = 3;
        const size_t area = raw.size() / kPlanes;
        const auto at = [&](size_t k) { return static_cast<int32_t>(static_cast<unsigned char>(raw[k])); };
        int32_t w = 1;
        while (static_cast<size_t>(w) < area && at(w) == at(0) + w) ++w;
        const CropRegion ffmpeg{w, static_cast<int32_t>(area / w), at(0), at(area)};
        EXPECT_EQ(resolved(expr, kW, kH, kSar), ffmpeg)
            << "ffmpeg: " << ffmpeg.w << "x" << ffmpeg.h << " at " << ffmpeg.x << "," << ffmpeg.y;
    }
}
