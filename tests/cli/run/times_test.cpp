// Where a run starts and stops (-ss, -t, -to), as a user meets it at the
// ends of a clip: a start past the last frame fails and says where that
// frame is, a time too long to count means "to the end", and the report
// picks the very frames the render picks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/support/cli_runner.h"
#include "cli/support/media.h"
#include "vocabulary.h"

namespace {

// Three frames at 0, 5.00 and 9.99 s of a 100 fps grid: a 10.00 s clip
// whose last frame starts a hundredth before its end.
const std::vector<int64_t> kPts = {0, 500, 999};
constexpr int kTicksPerSecond = 100;
constexpr int kOneKeyFps = 10;

uint32_t framePixel(int frame, int x, int y) {
    return static_cast<uint32_t>(frame * 0x501020 + x * 0x0B0300 + y * 0x000307) & 0xFFFFFF;
}

// "9.990" for the last frame's start, from what FFmpeg decodes.
std::string lastStart(const Decoded& d) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", d.times.back());
    return text;
}

// Which of `frames` `got` is: the nearest, as a lossy codec may be a level off.
size_t nearest(const Image& got, const std::vector<Image>& frames) {
    size_t best = 0;
    int64_t bestDistance = INT64_MAX;
    for (size_t i = 0; i < frames.size(); ++i) {
        int64_t distance = 0;
        for (size_t p = 0; p < got.px.size() && p < frames[i].px.size(); ++p)
            for (int shift : {0, 8, 16})
                distance += std::abs(static_cast<int>((got.px[p] >> shift) & 0xFF) -
                                     static_cast<int>((frames[i].px[p] >> shift) & 0xFF));
        if (distance < bestDistance) best = i, bestDistance = distance;
    }
    return best;
}

// The number on the report's "frames" line, or -1.
int64_t reportedFrames(const std::string& out) {
    const size_t at = out.find("\n  frames ");
    return at == std::string::npos ? -1 : std::stoll(out.substr(at + 10));
}

class Times : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        ClipPlan plan;
        plan.pts = kPts;
        plan.tbDen = kTicksPerSecond;
        plan.fps = kTicksPerSecond;
        plan.rgb = true;
        plan.pixel = framePixel;
        ASSERT_EQ(writePlannedClip(path("clip.mkv"), plan), "");
    }
};

}  // namespace

TEST_F(Times, StartsPastTheEndFailAndEndlessLengthsReadToTheEnd) {
    const std::string huge = "1000000000000000000000000";  // 1e24 s: no 64-bit count of ticks holds it
    const std::string vast = "1" + std::string(300, '0');  // 1e300 s, spelled out
    // The pattern clip as H.264 of one key frame: every start seeks back to it.
    constexpr int kOneKeyFrames = 10;
    ASSERT_EQ(writeClip(path("ten.mkv"), patternClip(16, 16, kOneKeyFrames), kOneKeyFps), "");
    const bool h264 =
        run({"ten.mkv", "-d", "video", "--passthru", "-c:v", "libx264", "-o", "onekey.mp4", "-q"}).status ==
        kExitOk;
    struct Case {
        const char* input;
        Args args;
        std::vector<size_t> frames;  // of the source, in order; none: refused
        int status = kExitOk;
        std::string message = "";  // '@' stands for the input's name, '#' for its last frame's start
    };
    const std::string pastEnd = " is past the end of @: its last frame starts at # s";
    const Case cases[] = {
        {"clip.mkv", {"-ss", "9.99"}, {2}},
        {"clip.mkv", {"-ss", "5"}, {1, 2}},
        {"clip.mkv", {"-ss", "2f"}, {2}},
        {"clip.mkv", {"-t", huge}, {0, 1, 2}},
        {"clip.mkv", {"-t", vast}, {0, 1, 2}},
        {"clip.mkv", {"-t", "99999:00:00"}, {0, 1, 2}},
        {"clip.mkv", {"-to", huge}, {0, 1, 2}},
        {"clip.mkv", {"-ss", "5", "-to", "99999:00:00"}, {1, 2}},
        {"clip.mkv", {"-ss", "1f", "-t", huge}, {1, 2}},
        {"clip.mkv", {"-ss", "10"}, {}, kExitFailure, "-ss 10" + pastEnd},
        {"clip.mkv", {"-ss", "99999:00:00"}, {}, kExitFailure, "-ss 99999:00:00" + pastEnd},
        {"clip.mkv", {"-ss", huge}, {}, kExitFailure, "-ss " + huge + pastEnd},
        {"clip.mkv", {"-ss", vast, "-t", "1"}, {}, kExitFailure, "-ss " + vast + pastEnd},
        {"clip.mkv",
         {"-ss", "3f"},
         {},
         kExitFailure,
         "-ss 3f is past the end of @: it holds 3 frames, from 0f"},
        {"clip.mkv",
         {"-ss", "9223372036854775807f"},
         {},
         kExitFailure,
         "-ss 9223372036854775807f is past the end of @: it holds 3 frames, from 0f"},
        {"clip.mkv",
         {"-ss", "200f", "-to", "1"},
         {},
         kExitFailure,
         "-to 1 is not after -ss 200f, which is at 2 s"},
        {"clip.mkv", {"-ss", "1e300"}, {}, kExitUsage, "-ss: '1e300' is not a frame number"},
        {"onekey.mp4", {"-ss", "0.9"}, {9}},
        {"onekey.mp4", {"-t", huge}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"onekey.mp4", {"-ss", "1"}, {}, kExitFailure, "-ss 1" + pastEnd},
        {"onekey.mp4", {"-ss", huge}, {}, kExitFailure, "-ss " + huge + pastEnd},
    };
    for (const Case& c : cases) {
        const std::string input = c.input;
        if (input == "onekey.mp4" && !h264) continue;  // an FFmpeg without libx264
        const Decoded source = decodeFile(path(input));
        ASSERT_EQ(source.error, "") << input;
        std::string message = c.message;
        for (size_t at; (at = message.find('@')) != std::string::npos;) message.replace(at, 1, input);
        for (size_t at; (at = message.find('#')) != std::string::npos;)
            message.replace(at, 1, lastStart(source));
        for (const bool report : {false, true}) {
            Args args = report ? Args{"report", input}
                               : Args{input, "-d", "video", "--passthru", "-o", "x.mkv", "-y", "-q"};
            args.insert(args.end(), c.args.begin(), c.args.end());
            SCOPED_TRACE("kivrel " + testing::PrintToString(args));
            const CliResult r = run(args);
            const int status = c.frames.empty() ? c.status : kExitOk;
            ASSERT_EQ(r.status, status) << r.err;
            if (c.frames.empty()) {
                EXPECT_TRUE(r.oneLine()) << r.err;
                EXPECT_EQ(r.err.rfind("kivrel: " + message, 0), 0u) << r.err;
                continue;
            }
            if (report) {
                EXPECT_EQ(reportedFrames(r.out), static_cast<int64_t>(c.frames.size())) << r.out;
                continue;
            }
            const Decoded got = decodeFile(path("x.mkv"));
            ASSERT_EQ(got.frames.size(), c.frames.size()) << got.error;
            for (size_t k = 0; k < c.frames.size(); ++k)
                EXPECT_EQ(nearest(got.frames[k], source.frames), c.frames[k]) << k;
        }
    }
}
