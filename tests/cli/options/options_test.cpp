// The command line, in process: how options become the Config line's
// arguments.
#include <gtest/gtest.h>

#include "options/parse.h"
#include "pluginhost/script_call.h"
#include "run/progress.h"

namespace {

using Args = std::vector<std::string>;

Status parse(Args args, Options& o, Action& a) {
    args.insert(args.begin(), "kivrel");
    std::vector<const char*> argv;
    for (const std::string& s : args) argv.push_back(s.c_str());
    return parseCommandLine(static_cast<int>(argv.size()), argv.data(), o, a);
}

Status parse(const Args& args) {
    Options o;
    Action a = Action::Run;
    return parse(args, o, a);
}

Options parseOk(const Args& args) {
    Options o;
    Action a = Action::Run;
    const Status s = parse(args, o, a);
    EXPECT_TRUE(s.ok()) << s.message();
    return o;
}

// The defaults of a fresh instance, as its script line shows them.
constexpr ConfigArgs kDefaults = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1};

}  // namespace

TEST(Options, SettingsBecomeConfigArguments) {
    const std::pair<Args, ConfigArgs> cases[] = {
        // The waveform case of the script line: luma only, PAL, 709, 16-235, gamma off.
        {{"-d", "waveform", "--channels", "luma", "--system", "pal", "--matrix", "709", "--range", "16-235",
          "--no-gamma"},
         {3, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}},
        {{"--display=video", "--channels", "r,b"}, {2, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 0, 1}},
        {{"-dhotpixel", "--change", "saturation", "--system=ntsc"}, {1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 2, 1}},
        {{"--passthru", "--accumulate", "--grid=off"}, {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0}},
        {{"--passthru", "--passthru=no", "--range", "full", "--matrix", "601"}, kDefaults},  // the last wins
        {{"--channels", "none", "--change=intensity"}, {0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 1, 1}},
        {{"--channels", "green,y", "--range", "studio", "--gamma=1"},
         {0, 0, 0, 1, 1, 1, 0, 1, 0, 1, 0, 0, 1}},
    };
    for (const auto& [args, expected] : cases) {
        SCOPED_TRACE(args[0] + " " + args[1 % args.size()]);
        ConfigArgs c = kDefaults;
        applyConfigOverrides(parseOk(args), c);
        EXPECT_EQ(c, expected);
    }
    EXPECT_FALSE(hasConfigOverrides(parseOk({"clip.mkv", "-o", "x.mkv", "-y", "-q", "-ss", "5f"})));
    EXPECT_TRUE(hasConfigOverrides(parseOk({"--grid"})));
}

TEST(Options, ShortFlagsGroupAndInputsStandAnywhere) {
    const Options o = parseOk({"-yq", "-o", "out.mkv", "clip.mkv", "-frames", "3", "--pad-pitch=2"});
    EXPECT_TRUE(o.overwrite);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.output, "out.mkv");
    EXPECT_EQ(o.input, "clip.mkv");
    EXPECT_EQ(o.frames, 3);
    EXPECT_EQ(o.padPitch, 2);
    // After "--" a name with a dash is an input, and here one input too many.
    EXPECT_EQ(parse({"clip.mkv", "--", "-odd.mkv"}).message(),
              "more than one input: 'clip.mkv' and '-odd.mkv'");
    EXPECT_EQ(parseOk({"--", "-odd.mkv"}).input, "-odd.mkv");

    Options any;
    Action a = Action::Run;
    EXPECT_TRUE(parse({"--help", "-frames", "2"}, any, a).ok());
    EXPECT_EQ(a, Action::Help);
    EXPECT_TRUE(parse({"--version"}, any, a).ok());
    EXPECT_EQ(a, Action::Version);
}

TEST(Options, BadValuesAreNamed) {
    const std::pair<Args, const char*> cases[] = {
        {{"--display", "scope"},
         "--display: 'scope' is not one of histograms, hotpixel, video, waveform, vectorscope"},
        {{"-d"}, "-d needs a value"},
        {{"-frames", "0"}, "-frames: '0' is not a whole number from 1 up"},
        {{"-vframes", "x"}, "-vframes: 'x' is not a whole number from 1 up"},
        {{"--frames", "2"}, "unknown option '--frames'"},
        {{"-s", "5"}, "-s: kivrel writes each display at its own size"},
        {{"-crap", "luma"}, "unknown option '-crap'"},
        {{"-hide_banner"}, "unknown option '-i' in '-hide_banner'"},
        {{"-framerate", "25"}, "-framerate: it describes the input: give it before -i FILE"},
        {{"-vsync", "0"}, "unknown option '-vsync'"},
        {{"-frames:v"}, "-frames:v needs a value"},
        {{"-vframes:v", "2"}, "-vframes:v: -vframes applies to the whole run"},
        {{"-n5"}, "unknown option '-5'"},
        {{"-y", "-n"}, "-y and -n cannot go together"},
        {{"-t", "0"}, "-t: '0' is not a length of time above 0"},
        {{"-t", "1", "-to", "2"}, "-t and -to cannot go together"},
        {{"-ss", "3", "-to", "2"}, "-to 2 is not after -ss 3"},
        {{"-to", "1:61"}, "-to: '1:61' is not a time"},
        {{"-threads", "-1"}, "-threads: '-1' is not a whole number from 0 to 1024"},
        {{"-start_number", "x"}, "-start_number: 'x' is not a whole number from 0"},
        {{"-loglevel", "loud"}, "-loglevel: 'loud' is not one of quiet, panic"},
        {{"-v"}, "-v needs a value"},
        {{"-c:v"}, "-c:v needs a value"},
        {{"-f", "nosuchmuxer"},
         "-f: 'nosuchmuxer' is not one of null, md5, sequence, image, video, nor a container"},
        {{"--max-ire", "121"}, "--max-ire: '121' is not a whole number from 0 to 120"},
        {{"--channels", "luma,alpha"},
         "--channels: 'luma,alpha' is not a list of channels (luma, red, green, blue, comma-separated; or "
         "all, none)"},
        {{"--channels", ""}, "--channels: '' is not a list of channels"},
        {{"--system", "secam"}, "--system: 'secam' is not one of ntsc, pal"},
        {{"--matrix", "2020"}, "--matrix: '2020' is not one of 601, 709"},
        {{"--range", "full-ish"}, "--range: 'full-ish' is not one of 0-255, 16-235"},
        {{"--grid=maybe"}, "--grid: 'maybe' is not on or off"},
        {{"--no-grid=on"}, "--no-grid takes no value"},
        {{"--no-display"}, "unknown option '--no-display'"},
        {{"--change", "red"}, "--change: 'red' is not one of black, intensity, saturation"},
        {{"-ss", "-2"}, "-ss: '-2' is not a frame number (120f) or a time (4.8, 1:02.5, 1:00:00, 500ms)"},
        {{"--pad-pitch", "4097"}, "--pad-pitch: '4097' is not a whole number from 0 to 4096"},
        {{"--card-size", "0x5"}, "--card-size: '0x5' is not a size WxH with sides from 1 to 8192"},
        {{"--card-size", "64"}, "--card-size: '64' is not a size WxH"},
        {{"--colour"}, "unknown option '--colour'"},
        {{"-yx"}, "unknown option '-x'"},
        {{"--quiet=yes"}, "--quiet takes no value"},
        {{"a.mkv", "b.mkv"}, "more than one input: 'a.mkv' and 'b.mkv'"},
        {{"--null", "-o", "x.mkv"}, "--null and --output cannot go together"},
        {{"-f", "png"}, "-f: 'png' is not one of null, md5, sequence, image, video"},
        {{"--null", "-f", "md5"}, "--null and -f md5 cannot go together"},
        {{"-f", "null", "-o", "x.md5"}, "-f null writes nothing: leave out -o"},
        {{"clip.mkv", "--card-size", "8x8"}, "--card-size is for the built-in test card, not for 'clip.mkv'"},
    };
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(args[0]);
        const Status s = parse(args);
        ASSERT_FALSE(s.ok());
        EXPECT_EQ(s.message().rfind(message, 0), 0u) << s.message();
    }
}

TEST(Options, StartPoints) {
    struct Case {
        const char* text;
        bool isTime;
        int64_t frame;
        double seconds;
    };
    // A bare number is seconds, as in FFmpeg; "f" makes it a frame number.
    const Case cases[] = {
        {"0f", false, 0, 0},        {"120f", false, 120, 0},
        {"4.8s", true, 0, 4.8},     {"2.5", true, 0, 2.5},
        {"7", true, 0, 7},          {"1:02.5", true, 0, 62.5},
        {"1:00:00", true, 0, 3600}, {"0:59:59.5", true, 0, 3599.5},
        {"250ms", true, 0, 0.25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const StartPoint p = parseOk({"-ss", c.text}).start;
        EXPECT_EQ(p.isTime, c.isTime);
        EXPECT_EQ(p.frame, c.frame);
        EXPECT_DOUBLE_EQ(p.seconds, c.seconds);
        EXPECT_EQ(p.text, c.text);
    }
    for (const char* bad : {"", "-1", "x", "1:60", "1:60:00", "1:2:3:4", "s", "1e3", "+3", "4.8ss", ":5", "f",
                            "-1f", "1.5f", "1:00ms"})
        EXPECT_FALSE(parse({"-ss", bad}).ok()) << bad;
}

// FFmpeg's spellings, each with what it sets.
TEST(Options, FfmpegVocabulary) {
    const std::pair<Args, void (*)(const Options&)> cases[] = {
        {{"-t", "1.5"}, [](const Options& o) { EXPECT_EQ(o.duration, 1.5); }},
        {{"-ss", "1", "-to", "0:02"}, [](const Options& o) { EXPECT_EQ(o.endTime, 2.0); }},
        {{"-frames", "4"}, [](const Options& o) { EXPECT_EQ(o.frames, 4); }},
        {{"-vframes", "5"}, [](const Options& o) { EXPECT_EQ(o.frames, 5); }},
        {{"-f", "nut"}, [](const Options& o) { EXPECT_EQ(o.format, "nut"); }},
        {{"-c:v", "libx264"}, [](const Options& o) { EXPECT_EQ(o.codec, "libx264"); }},
        {{"-c", "ffv1"}, [](const Options& o) { EXPECT_EQ(o.codec, "ffv1"); }},
        {{"-codec:v:0", "png"}, [](const Options& o) { EXPECT_EQ(o.codec, "png"); }},
        {{"-frames:v", "4"}, [](const Options& o) { EXPECT_EQ(o.frames, 4); }},
        {{"-frames:V:0", "6", "-an", "-sn", "-dn"}, [](const Options& o) { EXPECT_EQ(o.frames, 6); }},
        {{"-pix_fmt:0", "gray"}, [](const Options& o) { EXPECT_EQ(o.pixelFormat, "gray"); }},
        {{"-vcodec", "ffv1"}, [](const Options& o) { EXPECT_EQ(o.codec, "ffv1"); }},
        {{"-pix_fmt", "yuv420p"}, [](const Options& o) { EXPECT_EQ(o.pixelFormat, "yuv420p"); }},
        {{"-threads", "3"}, [](const Options& o) { EXPECT_EQ(o.threads, 3); }},
        {{"-start_number", "0"}, [](const Options& o) { EXPECT_EQ(o.startNumber, 0); }},
        {{"-y"}, [](const Options& o) { EXPECT_TRUE(o.overwrite); }},
        {{"-n"}, [](const Options& o) { EXPECT_TRUE(o.neverOverwrite && !o.overwrite); }},
        {{"-loglevel", "warning"}, [](const Options& o) { EXPECT_EQ(o.logLevel, 24); }},  // AV_LOG_WARNING
        {{"-v", "quiet"}, [](const Options& o) { EXPECT_EQ(o.logLevel, kLibraryLogQuiet); }},
        {{"-v", "40"}, [](const Options& o) { EXPECT_EQ(o.logLevel, 40); }},
        {{"--verbose"}, [](const Options& o) { EXPECT_EQ(o.logLevel, kLibraryLogInfo); }},
        {{"--channels", "red"}, [](const Options& o) { EXPECT_EQ(o.config[kArgRed], 1); }},
        {{"--keep-partial"}, [](const Options& o) { EXPECT_TRUE(o.keepPartial); }},
    };
    for (const auto& [args, check] : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        check(parseOk(args));
    }
}

TEST(Progress, LineShowsDoneTotalRateAndTimeLeft) {
    EXPECT_EQ(Progress::format(5, 10, 1.0),
              " 50% [############............] 5/10 frames  5.0 fps  0:01 left");
    EXPECT_EQ(Progress::format(0, 4, 0.0), "  0% [........................] 0/4 frames  0.0 fps  ? left");
    EXPECT_EQ(Progress::format(12, 10, 2.0),
              "100% [########################] 10/10 frames  6.0 fps  0:00 left");
    EXPECT_EQ(Progress::format(100, 360100, 100.0),
              "  0% [........................] 100/360100 frames  1.0 fps  100:00:00 left");
    EXPECT_EQ(Progress::format(42, -1, 2.0), "42 frames  21.0 fps");
}

// FFmpeg's rule: options before -i describe that input (a raw file's
// format, size, rate, pixel format, a sequence's first number); after it,
// and with an input given by position, they keep their output meaning.
TEST(Options, WhatComesBeforeIDescribesTheInput) {
    auto demuxerOptions = [](const Options& o) {
        std::string all;
        for (const DemuxerOption& d : o.demuxerOptions) all += d.key + "=" + d.value + " ";
        return all;
    };
    const Options raw = parseOk({"-f", "rawvideo", "-pix_fmt", "gray", "-s", "720x576", "-r", "25", "-i",
                                 "in.raw", "-f", "nut", "-pix_fmt", "yuv444p", "-o", "-"});
    EXPECT_EQ(raw.input, "in.raw");
    EXPECT_EQ(raw.inputFormat, "rawvideo");
    EXPECT_EQ(raw.format, "nut");
    EXPECT_EQ(raw.pixelFormat, "yuv444p");
    EXPECT_EQ(demuxerOptions(raw), "video_size=720x576 framerate=25 pixel_format=gray ");
    const Options spelled =
        parseOk({"-video_size", "pal", "-framerate", "30000/1001", "-pixel_format", "rgb24", "-i", "x"});
    EXPECT_EQ(demuxerOptions(spelled), "video_size=pal framerate=30000/1001 pixel_format=rgb24 ");
    // -start_number before -i numbers the input only; after it, the output only.
    const Options before = parseOk({"-start_number", "7", "-i", "in_%d.png", "-o", "out_%d.png"});
    EXPECT_EQ(before.inputStartNumber, 7);
    EXPECT_EQ(before.startNumber, std::nullopt);
    const Options after = parseOk({"-i", "in_%d.png", "-start_number", "7", "-o", "out_%d.png"});
    EXPECT_EQ(after.inputStartNumber, std::nullopt);
    EXPECT_EQ(after.startNumber, 7);
    // A positional input: every option as before, -start_number for both.
    const Options positional = parseOk({"-f", "nut", "-pix_fmt", "gray", "-start_number", "3", "in.mkv"});
    EXPECT_EQ(positional.format, "nut");
    EXPECT_EQ(positional.pixelFormat, "gray");
    EXPECT_EQ(positional.inputFormat, "");
    EXPECT_EQ(positional.startNumber, 3);
    EXPECT_EQ(positional.inputStartNumber, 3);
    EXPECT_EQ(parseOk({"-i", "-"}).input, "-");

    const std::pair<Args, std::string> refused[] = {
        {{"-s", "720x576", "in.raw"}, "-s: kivrel writes each display at its own size"},
        {{"-i", "in.raw", "-r", "25"}, "-r: kivrel keeps the input's frame rate"},
        {{"-video_size", "720x576", "in.raw"}, "-video_size: it describes the input: give it before -i FILE"},
        {{"-i", "in.raw", "-framerate", "25"}, "-framerate: it describes the input: give it before -i FILE"},
        {{"-s", "720", "-i", "in.raw"}, "-s: '720' is not a frame size"},
        {{"-r", "fast", "-i", "in.raw"}, "-r: 'fast' is not a frame rate"},
        {{"-pix_fmt", "grey", "-i", "in.raw"}, "-pix_fmt: 'grey' is not a pixel format FFmpeg knows"},
        {{"-i"}, "-i needs a value"},
        {{"-i", "a.mkv", "b.mkv"}, "more than one input"},
        {{"a.mkv", "-i", "b.mkv"}, "more than one input"},
    };
    for (const auto& [args, message] : refused) {
        SCOPED_TRACE(testing::PrintToString(args));
        const Status s = parse(args);
        EXPECT_FALSE(s.ok());
        EXPECT_NE(s.message().find(message), std::string::npos) << s.message();
    }
}
