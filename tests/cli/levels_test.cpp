// The conversion of the source's levels to the module's RGB, against a
// double-precision reference, and what each display is handed.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "input/levels.h"

extern "C" {
#include <libavutil/frame.h>
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

struct Frame {
    AVFrame* f = av_frame_alloc();
    ~Frame() { av_frame_free(&f); }
};

}  // namespace

// Every Y with a dense grid of Cb and Cr (every third level, both ends
// included), in 4:4:4 and in 4:2:0: each pair of rows holds one chroma pair,
// so subsampling changes nothing and both formats share one reference.
TEST(Levels, ConversionIsWithinOneLevelOfTheReference) {
    constexpr int kStep = 3, kSteps = 255 / kStep + 1;
    constexpr int kW = 256, kH = 2 * kSteps * kSteps;
    auto ycc = [](int x, int y, int& Y, int& cb, int& cr) {
        const int pair = y / 2;
        Y = x, cb = pair % kSteps * kStep, cr = pair / kSteps * kStep;
    };
    for (const AVPixelFormat fmt : {AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUV420P}) {
        Frame in;
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
                    LevelConverter conv;
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
