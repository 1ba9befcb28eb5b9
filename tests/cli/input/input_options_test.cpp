// Options before -i describe the input as FFmpeg takes them: a raw file is
// read with the format, size, rate and pixel format given there, checked
// against numpy's own picture of it; an option its demuxer does not take is
// refused, not dropped; an input with alpha says it is ignored.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "cli/support/cli_runner.h"
#include "vocabulary.h"

namespace {

class InputOptions : public CliTest {
protected:
    // Runs a shell command in the test's folder; true when it exits 0.
    bool shell(const std::string& command) const {
        return std::system(("cd '" + dir_ + "' && " + command).c_str()) == 0;
    }
};

constexpr int kW = 64, kH = 48, kFrames = 3;

}  // namespace

TEST_F(InputOptions, RawGreyReadAsFfmpegReadsItThroughTheVideoViewUnchanged) {
    // Random grey levels with both extremes; the picture passed through is
    // full-range RGB, each channel the grey level itself (grey is full range).
    ASSERT_TRUE(
        shell("/usr/bin/python3 -c \"import numpy as np; g = np.random.default_rng(7).integers(0, 256, (" +
              std::to_string(kFrames) + ", " + std::to_string(kH) + ", " + std::to_string(kW) +
              "), dtype=np.uint8); g[0, 0, :2] = (0, 255); g.tofile('in.gray'); "
              "np.repeat(g[..., None], 3, axis=3).tofile('want.rgb')\""));
    const std::string want = readText("want.rgb");
    const std::string size = std::to_string(kW) + "x" + std::to_string(kH);
    for (const Args& input :
         {Args{"-f", "rawvideo", "-pix_fmt", "gray", "-s", size, "-r", "25"},
          Args{"-f", "rawvideo", "-pixel_format", "gray", "-video_size", size, "-framerate", "25"}}) {
        SCOPED_TRACE(testing::PrintToString(input));
        Args args = input;
        args.insert(args.end(), {"-i", "in.gray", "-d", "video", "--passthru", "-f", "rawvideo", "-pix_fmt",
                                 "rgb24", "-o", "out.rgb", "-y", "-q"});
        const CliResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string got = readText("out.rgb");
        ASSERT_EQ(got.size(), want.size());
        for (size_t k = 0; k < got.size(); ++k)
            if (got[k] != want[k]) {
                const size_t pixel = k / 3;
                ADD_FAILURE() << "frame " << pixel / (kW * kH) << " pixel (" << pixel % kW << ", "
                              << pixel / kW % kH << "): " << int(uint8_t(got[k])) << ", want "
                              << int(uint8_t(want[k]));
                break;
            }
    }
    // The report reads it alike: a row per frame.
    const CliResult report = run({"report", "-f", "rawvideo", "-pix_fmt", "gray", "-s", size, "-r", "25",
                                  "-i", "in.gray", "-o", "r.csv"});
    ASSERT_EQ(report.status, 0) << report.err;
    const std::string csv = readText("r.csv");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 1 + kFrames) << csv;
    // Without -i the same options describe the output, as they always have.
    const CliResult positional = run({"-s", size, "in.gray"});
    EXPECT_EQ(positional.status, kExitUsage);
    EXPECT_NE(positional.err.find("-s: kivrel writes each display at its own size"), std::string::npos)
        << positional.err;
}

TEST_F(InputOptions, AnOptionTheDemuxerDoesNotTakeIsRefused) {
    ASSERT_TRUE(
        shell("ffmpeg -v error -f lavfi -i testsrc=size=32x16:rate=5:duration=0.6 -c:v ffv1 clip.mkv"));
    const CliResult r = run({"-pix_fmt", "gray", "-i", "clip.mkv", "-o", "x.mkv"});
    EXPECT_EQ(r.status, kExitUsage);
    EXPECT_TRUE(r.oneLine()) << r.err;
    EXPECT_NE(r.err.find("clip.mkv: -pix_fmt before -i is for a demuxer that takes pixel_format"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(files().contains("x.mkv"));
    // -i alone is the positional input.
    const CliResult plain = run({"-i", "clip.mkv", "-d", "video", "-o", "x.mkv"});
    EXPECT_EQ(plain.status, 0) << plain.err;
}

TEST_F(InputOptions, AlphaIsSaidToBeIgnored) {
    const struct {
        const char* format;
        const char* file;
        bool alpha;
    } cases[] = {{"rgba", "a.png", true}, {"yuva420p", "a.nut", true}, {"yuv420p", "plain.nut", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        ASSERT_TRUE(shell(std::string("ffmpeg -v error -y -f lavfi -i testsrc=size=32x16,format=") +
                          c.format + " -frames:v 1 -c:v " +
                          (std::string(c.file).ends_with(".png") ? "png " : "ffv1 ") + c.file));
        const CliResult r = run({"-i", c.file, "-d", "video", "-o", "out.png", "-y"});
        ASSERT_EQ(r.status, 0) << r.err;
        if (c.alpha) {
            EXPECT_NE(r.err.find("; its alpha (" + std::string(c.format) + ") is ignored"), std::string::npos)
                << r.err;
        } else {
            EXPECT_EQ(r.err.find("alpha"), std::string::npos) << r.err;
        }
    }
}
