// Where a run starts and stops (-ss, -t, -to), as a user meets it at the
// ends of a clip: a start past the last frame fails and says where that
// frame is, a time too long to count means "to the end", and the report
// picks the very frames the render picks. Then the frames chosen, against
// FFmpeg's own choice on clips FFmpeg makes: constant and variable rates,
// B-frames in open groups of pictures, streams that start at 10 s.
// (Over 400 lines: both halves are of one subject, the frames a time picks.)
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/support/cli_runner.h"
#include "cli/support/media.h"
#include "options/parse.h"
#include "vocabulary.h"

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
#include <libavutil/parseutils.h>
}

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

namespace {

// What a command prints on standard output.
std::string shell(const std::string& command) {
    std::string text;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) text.append(buffer, n);
        ::pclose(p);
    }
    return text;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') lines.push_back(line);
    return lines;
}

// The last comma-separated field of each line: the MD5 of FFmpeg's
// framemd5 and of kivrel's hash lines alike.
std::vector<std::string> md5sOf(const std::string& text) {
    std::vector<std::string> md5s;
    for (const std::string& line : linesOf(text)) {
        const size_t comma = line.rfind(',');
        md5s.push_back(line.substr(comma == std::string::npos ? 0 : comma + 1));
        while (!md5s.back().empty() && md5s.back().front() == ' ') md5s.back().erase(0, 1);
    }
    return md5s;
}

// The clip's frames as ffprobe times them, and its time base and start.
struct ClipFrames {
    std::vector<int64_t> pts;  // best_effort_timestamp, in presentation order
    AVRational timeBase{0, 1};
    int64_t startPts = 0;
};

ClipFrames probe(const std::string& file) {
    ClipFrames p;
    const std::string stream =
        shell("ffprobe -v error -select_streams v:0 -show_entries stream=time_base,start_pts -of csv=p=0 '" +
              file + "'");
    std::sscanf(stream.c_str(), "%d/%d,%lld", &p.timeBase.num, &p.timeBase.den,
                reinterpret_cast<long long*>(&p.startPts));
    for (const std::string& line :
         linesOf(shell("ffprobe -v error -select_streams v:0 -show_entries frame=best_effort_timestamp -of "
                       "csv=p=0 '" +
                       file + "'")))
        p.pts.push_back(std::stoll(line));
    return p;
}

// FFmpeg 5.1's choice for an input -ss (fftools: the input's timestamps are
// offset by -(T + the start), in microseconds, rescaled to the stream's
// time base, and the trim filter keeps the frames at 0 or after): the
// index of the first frame kept, or -1 for none.
int64_t ffmpegFirst(const ClipFrames& p, const std::string& t) {
    int64_t micros = 0;
    if (av_parse_time(&micros, t.c_str(), 1) < 0) return -2;
    const int64_t startMicros = av_rescale_q(p.startPts, p.timeBase, AVRational{1, AV_TIME_BASE});
    const int64_t offset = av_rescale_q(-(micros + startMicros), AVRational{1, AV_TIME_BASE}, p.timeBase);
    for (size_t i = 0; i < p.pts.size(); ++i)
        if (p.pts[i] + offset >= 0) return static_cast<int64_t>(i);
    return -1;
}

// Times to start at: anywhere in the clip and a little past it, on a
// frame's time, half a tick and a microsecond to either side of one;
// spelled in seconds, with "s" or "ms", or as minutes and seconds.
std::vector<std::string> startTimes(const ClipFrames& p, uint64_t seed, int n) {
    std::mt19937_64 random(seed);
    const double tick = av_q2d(p.timeBase);
    const double last = static_cast<double>(p.pts.back() - p.startPts) * tick;
    std::vector<std::string> times;
    for (int k = 0; k < n; ++k) {
        double t = std::uniform_real_distribution<double>(0.0, last + 0.1)(random);
        if (random() % 2 == 0) {
            const int64_t frame = p.pts[random() % p.pts.size()];
            const double nudges[] = {0.0, tick / 2, -tick / 2, 1e-6, -1e-6};
            t = std::max(0.0, static_cast<double>(frame - p.startPts) * tick + nudges[random() % 5]);
        }
        char text[48];
        switch (random() % 6) {
        case 0: std::snprintf(text, sizeof text, "%.6fs", t); break;
        case 1: std::snprintf(text, sizeof text, "%.3fms", t * 1000); break;
        case 2: std::snprintf(text, sizeof text, "0:%09.6f", t); break;
        default: std::snprintf(text, sizeof text, "%.6f", t); break;
        }
        times.push_back(text);
    }
    return times;
}

uint64_t envNumber(const char* name, uint64_t otherwise) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::strtoull(v, nullptr, 10) : otherwise;
}

// Moving noise over FFmpeg's test pattern: no two frames alike.
constexpr const char* kSource = "-f lavfi -i testsrc2=size=64x48:rate=25,noise=alls=40:allf=t -frames:v 50 ";
constexpr const char* kVariableRate =
    "-vf 'settb=1/1000,setpts=N*0.04/TB+0.013*mod(N\\,3)/TB' -fps_mode passthrough -enc_time_base 1/1000 "
    "-c:v ffv1 ";

struct Clip {
    const char* name;
    std::string encode;  // ffmpeg's options after the source's
};

std::vector<Clip> clips() {
    const bool x264 =
        shell("ffmpeg -hide_banner -encoders 2>/dev/null").find(" libx264 ") != std::string::npos;
    // B-frames in open groups of pictures (MPEG-2's are open unless closed).
    const std::string openGop = x264
                                    ? "-c:v libx264 -bf 3 -x264-params open-gop=1:keyint=12 -pix_fmt yuv420p "
                                    : "-c:v mpeg2video -bf 3 -g 12 ";
    return {
        {"cfr.mkv", "-c:v mpeg2video -bf 2 -g 10 "},
        {"vfr.mkv", kVariableRate},
        {"opengop.mkv", openGop},
        {"offset.ts", openGop + "-output_ts_offset 10 "},
        {"offset.mkv", std::string(kVariableRate) + "-output_ts_offset 10 "},
    };
}

class ChosenFrames : public CliTest {
protected:
    // Makes the clip; its frames as ffprobe times them and as kivrel hashes them, read from the start.
    void make(const Clip& clip, ClipFrames& probed, std::vector<std::string>& hashes) {
        const std::string file = path(clip.name);
        ASSERT_EQ(shell("ffmpeg -v error -y " + std::string(kSource) + clip.encode + "'" + file + "' 2>&1"),
                  "");
        probed = probe(file);
        ASSERT_GT(probed.pts.size(), 40u);
        const CliResult r = run({clip.name, "-d", "video", "--passthru", "-f", "md5", "-o", "-", "-q"});
        ASSERT_EQ(r.status, kExitOk) << r.err;
        hashes = md5sOf(r.out);
        ASSERT_EQ(hashes.size(), probed.pts.size());
    }
};

}  // namespace

// -ss T: the first frame whose time from the stream's start is T or after,
// as FFmpeg's input -ss picks it. The rule (ffmpegFirst) is held to FFmpeg
// itself for a few times on each Matroska clip; on the MPEG-TS one FFmpeg
// 5.1's own seek lands after the frame its rule picks (it seeks to a packet
// that is not a key frame and decodes from the next one), which kivrel's
// must not. Then hundreds of times through kivrel's own reading of the
// option and its timeline, and a few through the whole executable.
TEST_F(ChosenFrames, StartTimesPickTheFrameFfmpegPicks) {
    const uint64_t seed = envNumber("KIVREL_TIMES_SEED", 2026);
    const char* only = std::getenv("KIVREL_TIMES_CASE");
    std::printf("ChosenFrames seed %llu (KIVREL_TIMES_SEED; KIVREL_TIMES_CASE=clip.N reruns one case)\n",
                static_cast<unsigned long long>(seed));
    constexpr int kTimes = 300, kRuns = 8, kFfmpegRuns = 3;
    for (const Clip& clip : clips()) {
        SCOPED_TRACE(clip.name);
        ClipFrames p;
        std::vector<std::string> hashes;
        make(clip, p, hashes);
        if (HasFatalFailure()) return;
        const std::vector<std::string> times =
            startTimes(p, seed + std::hash<std::string>{}(clip.name), kTimes);
        const bool ts = std::string(clip.name).ends_with(".ts");
        std::vector<std::string> ffmpegFrames;
        if (!ts) ffmpegFrames = md5sOf(shell("ffmpeg -v error -i '" + path(clip.name) + "' -f framemd5 -"));
        const Timeline timeline{{p.timeBase.num, p.timeBase.den}, p.startPts, {25, 1}};
        for (int k = 0; k < kTimes; ++k) {
            const std::string& t = times[static_cast<size_t>(k)];
            const std::string name = std::string(clip.name) + "." + std::to_string(k);
            if (only != nullptr && *only != '\0' && name != only) continue;
            SCOPED_TRACE("case " + name + ": -ss " + t);
            const int64_t want = ffmpegFirst(p, t);
            ASSERT_GE(want, -1);
            if (!ts && k < kFfmpegRuns) {
                const std::vector<std::string> got =
                    md5sOf(shell("ffmpeg -v error -ss " + t + " -i '" + path(clip.name) +
                                 "' -frames:v 1 -f framemd5 - 2>/dev/null"));
                ASSERT_EQ(got.empty() ? -1
                                      : std::find(ffmpegFrames.begin(), ffmpegFrames.end(), got[0]) -
                                            ffmpegFrames.begin(),
                          want)
                    << "the rule is not FFmpeg's";
            }
            Options options;
            Action action;
            const char* argv[] = {"kivrel", "-ss", t.c_str()};
            ASSERT_TRUE(parseCommandLine(3, argv, options, action, false).ok());
            int64_t first = -1;
            for (size_t i = 0; i < p.pts.size() && first < 0; ++i)
                if (timeline.reaches(p.pts[i], options.start.seconds)) first = static_cast<int64_t>(i);
            EXPECT_EQ(first, want);
            if (k >= kRuns && only == nullptr) continue;
            const CliResult r = run({clip.name, "-d", "video", "--passthru", "-ss", t, "-frames", "1", "-f",
                                     "md5", "-o", "-", "-q"});
            if (want < 0) {
                EXPECT_EQ(r.status, kExitFailure);
                EXPECT_NE(r.err.find("is past the end"), std::string::npos) << r.err;
                continue;
            }
            ASSERT_EQ(r.status, kExitOk) << r.err;
            const std::vector<std::string> got = md5sOf(r.out);
            ASSERT_EQ(got.size(), 1u) << r.out;
            EXPECT_EQ(std::find(hashes.begin(), hashes.end(), got[0]) - hashes.begin(), want);
        }
    }
}

// -t and -to as FFmpeg trims: by the frames' own times, from the first
// frame kept (-to as the -t that reaches it from -ss), on a clip of
// variable rate where counting frames at the nominal rate goes wrong.
TEST_F(ChosenFrames, LengthsEndWhereFfmpegEnds) {
    const Clip clip{"vfr.mkv", kVariableRate};
    ClipFrames p;
    std::vector<std::string> hashes;
    make(clip, p, hashes);
    if (HasFatalFailure()) return;
    const std::vector<std::string> full =
        md5sOf(shell("ffmpeg -v error -i '" + path(clip.name) + "' -fps_mode passthrough -f framemd5 -"));
    ASSERT_EQ(full.size(), hashes.size());
    // Its frames start at 0, 0.053, 0.106, 0.120, 0.173, 0.226, 0.240 ... s.
    const std::vector<Args> cases = {
        {"-t", "0.12"},
        {"-to", "0.12"},
        {"-ss", "0.01", "-t", "0.1"},
        {"-ss", "0.01", "-to", "0.11"},
        {"-ss", "0.12", "-t", "0.0535"},
        {"-ss", "0.12", "-t", "0.0525"},
        {"-ss", "0.107", "-to", "0.161"},
        {"-ss", "0.107", "-to", "0.16"},
        {"-ss", "1.5", "-t", "0.3"},
    };
    auto indexes = [](const std::vector<std::string>& got, const std::vector<std::string>& all) {
        std::vector<int64_t> found;
        for (const std::string& m : got) found.push_back(std::find(all.begin(), all.end(), m) - all.begin());
        return found;
    };
    for (const Args& c : cases) {
        std::string options;
        for (const std::string& a : c) options += a + " ";
        SCOPED_TRACE(options);
        const std::vector<int64_t> want =
            indexes(md5sOf(shell("ffmpeg -v error " + options + "-i '" + path(clip.name) +
                                 "' -fps_mode passthrough -f framemd5 -")),
                    full);
        ASSERT_FALSE(want.empty());
        Args args = {clip.name, "-d", "video", "--passthru", "-f", "md5", "-o", "-", "-q"};
        args.insert(args.end(), c.begin(), c.end());
        const CliResult r = run(args);
        ASSERT_EQ(r.status, kExitOk) << r.err;
        EXPECT_EQ(indexes(md5sOf(r.out), hashes), want);
    }
    // A start by frame number: -to is the stream's own time.
    const CliResult r = run(
        {clip.name, "-d", "video", "--passthru", "-ss", "3f", "-to", "0.174", "-f", "md5", "-o", "-", "-q"});
    ASSERT_EQ(r.status, kExitOk) << r.err;
    EXPECT_EQ(indexes(md5sOf(r.out), hashes), (std::vector<int64_t>{3, 4}));
}
