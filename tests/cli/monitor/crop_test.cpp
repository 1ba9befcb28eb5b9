// The region of interest in FFmpeg's crop syntax: expressions, defaults that
// centre, rounding as FFmpeg rounds, and regions that are refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "monitor/crop_expr.h"

namespace {

CropRegion resolved(const std::string& text, int32_t w, int32_t h) {
    CropRequest request;
    CropRegion r{-1, -1, -1, -1};
    const Status p = parseCropRequest(text, request);
    EXPECT_TRUE(p.ok()) << text << ": " << p.message();
    const Status s = resolveCrop(request, w, h, r);
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
