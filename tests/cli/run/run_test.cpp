// decode -> filter -> encode through the real executable, checked by
// decoding its output back: the video view's pixels are exactly predictable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "cli/support/cli_runner.h"
#include "cli/support/media.h"
#include "pluginhost/test_card.h"

namespace {

constexpr int32_t kClipW = 32, kClipH = 24;
constexpr int kClipFrames = 6;
constexpr int kClipFps = 10;
constexpr uint32_t kAll = 0xFFFFFF;

class Pipeline : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        ASSERT_EQ(writeClip(path("clip.mkv"), clip_, kClipFps), "");
    }
    const std::vector<Image> clip_ = patternClip(kClipW, kClipH, kClipFrames);
};

}  // namespace

TEST_F(Pipeline, TestCardInPassThroughIsTheCardItself) {
    // No input and no output name: the built-in card, written under a name
    // made from "testcard" and the display, in the current folder.
    const CliResult r = run({"-d", "video", "--passthru"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(r.oneLine()) << r.err;
    EXPECT_EQ(r.err.rfind("kivrel: wrote testcard.passthru.png: 1 frame 640x480 in ", 0), 0u) << r.err;
    const Decoded d = decodeFile(path("testcard.passthru.png"));
    ASSERT_EQ(d.frames.size(), 1u) << d.error;
    EXPECT_TRUE(samePicture(d.frames[0], testCard(kTestCardWidth, kTestCardHeight)));
}

TEST_F(Pipeline, VideoViewKeepsEveryPixelAndTheFrameRateFromStartForFrames) {
    struct Case {
        Args settings;
        const char* out;
        size_t first;
        int count;
        uint32_t mask;
    };
    const Case cases[] = {
        {{"--passthru", "-frames", "100"}, "out.mkv", 0, kClipFrames, kAll},
        {{"--channels", "green,blue"}, "out.mkv", 0, kClipFrames, 0x00FFFF},
        {{"--channels", "none"}, "out.mkv", 0, kClipFrames, 0},
        {{"--channels", "red,blue", "--pad-pitch", "3"}, "out.mkv", 0, kClipFrames, 0xFF00FF},
        {{"--passthru", "-ss", "2f", "-frames", "3"}, "out.avi", 2, 3, kAll},   // frame numbers
        {{"--passthru", "-ss", "0.3", "-frames", "2"}, "out.mkv", 3, 2, kAll},  // 0.3 s at 10 fps is frame 3
        {{"--passthru", "-ss", "0:00.5"}, "out.mkv", 5, 1, kAll},
        {{"--passthru", "-ss", "0.1", "-t", "0.2"}, "out.mkv", 1, 2, kAll},
        {{"--passthru", "-ss", "1f", "-to", "0.4"}, "out.mkv", 1, 3, kAll},
        {{"--passthru", "-threads", "1", "-pix_fmt", "bgr0"}, "out.mkv", 0, kClipFrames, kAll},
    };
    for (const Case& c : cases) {
        Args args = {"clip.mkv", "-d", "video", "-o", c.out, "-y", "-q"};
        args.insert(args.end(), c.settings.begin(), c.settings.end());
        SCOPED_TRACE(testing::PrintToString(args));
        const CliResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");  // --quiet
        const Decoded d = decodeFile(path(c.out));
        ASSERT_EQ(d.error, "");
        EXPECT_EQ(d.codec, "ffv1");
        EXPECT_EQ(d.fpsNum, kClipFps * d.fpsDen);
        ASSERT_EQ(static_cast<int>(d.frames.size()), c.count);
        for (size_t k = 0; k < d.frames.size(); ++k)
            EXPECT_TRUE(samePicture(d.frames[k], clip_[c.first + k], c.mask)) << "output frame " << k;
    }
}

TEST_F(Pipeline, ImageSequenceNumbersFromOneOrStartNumber) {
    const std::pair<Args, std::vector<std::string>> cases[] = {
        {{}, {"f_01.png", "f_02.png"}},
        {{"-start_number", "9"}, {"f_09.png", "f_10.png"}},
    };
    for (const auto& [extra, names] : cases) {
        SCOPED_TRACE(names[0]);
        Args args = {"clip.mkv", "-d",      "video", "--passthru", "-ss",
                     "2f",       "-frames", "2",     "-o",         "f_%02d.png"};
        args.insert(args.end(), extra.begin(), extra.end());
        const CliResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("wrote " + names[0] + " ... " + names[1] + ": 2 frames 32x24"),
                  std::string::npos)
            << r.err;
        for (size_t k = 0; k < names.size(); ++k) {
            const Decoded d = decodeFile(path(names[k]));
            ASSERT_EQ(d.frames.size(), 1u);
            EXPECT_TRUE(samePicture(d.frames[0], clip_[2 + k]));
            std::remove(path(names[k]).c_str());
        }
        EXPECT_EQ(files(), (std::set<std::string>{"clip.mkv"}));
    }
}

TEST_F(Pipeline, StillGivesAPictureAndRepeatedAClip) {
    const Image still = patternFrame(17, 9, 3);  // odd sizes
    ASSERT_TRUE(writePng(path("still.png"), still));
    CliResult r = run({"still.png", "-d", "video", "--passthru", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    Decoded d = decodeFile(path("still.passthru.png"));
    ASSERT_EQ(d.frames.size(), 1u) << d.error;
    EXPECT_TRUE(samePicture(d.frames[0], still));

    r = run({"still.png", "-d", "video", "--channels", "green", "-frames", "3", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    d = decodeFile(path("still.video.mkv"));
    ASSERT_EQ(d.frames.size(), 3u) << d.error;
    EXPECT_EQ(d.fpsNum, 25 * d.fpsDen);
    for (const Image& f : d.frames) EXPECT_TRUE(samePicture(f, still, 0x00FF00));
}

TEST_F(Pipeline, NullOutputWritesNothingAndProgressShowsOnATerminalOnly) {
    CliResult r = run({"clip.mkv", "--null"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(files(), std::set<std::string>{"clip.mkv"});
    ASSERT_TRUE(r.oneLine()) << r.err;  // no progress
    EXPECT_EQ(r.err.rfind("kivrel: 6 frames 360x570 in ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find("encode"), std::string::npos);

    r = run({"clip.mkv", "--null"}, /*onTerminal=*/true);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* part : {"/6 frames", " fps ", " left"})
        EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
    r = run({"clip.mkv", "--null", "-q"}, /*onTerminal=*/true);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

namespace {

// What ffprobe says a file's first video stream is tagged with: "tv bt709 ".
std::string probedTags(const std::string& file) {
    const std::string command =
        "ffprobe -v error -select_streams v:0 -show_entries stream=color_space,color_range "
        "-of default=noprint_wrappers=1:nokey=1 '" +
        file + "'";
    std::string text;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p) != nullptr) text += buffer;
        ::pclose(p);
    }
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

}  // namespace

// --print-config shows what this input gets: with the matrix and range
// left to follow the source, what its tags pick (as ffprobe reads them),
// the same as naming them; for a monitor, each tile's line.
TEST_F(Pipeline, PrintConfigShowsWhatTheInputGetsForEveryTile) {
    struct Case {
        const char* file;
        int colorspace, range;  // AVColorSpace, AVColorRange
        const char* tags;       // as ffprobe prints them
        const char* matrix;     // the words a user would give for them
        const char* levels;
    };
    const Case cases[] = {
        {"hd.mkv", 1, 1, "tv bt709 ", "709", "16-235"},
        {"sd_full.mkv", 6, 2, "pc smpte170m ", "601", "0-255"},
    };
    std::string seen;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ClipPlan plan;
        plan.colorspace = c.colorspace;
        plan.range = c.range;
        plan.pixel = [](int, int x, int y) { return static_cast<uint32_t>(0x108080 + ((x * 9 + y) << 16)); };
        ASSERT_EQ(writePlannedClip(path(c.file), plan), "");
        ASSERT_EQ(probedTags(path(c.file)), c.tags);
        for (const char* display : {"waveform", "video"}) {
            const CliResult got = run({c.file, "-d", display, "--print-config"});
            const CliResult named =
                run({c.file, "-d", display, "--matrix", c.matrix, "--range", c.levels, "--print-config"});
            ASSERT_EQ(got.status, 0) << got.err;
            EXPECT_EQ(got.out, named.out);
            EXPECT_EQ(std::count(got.out.begin(), got.out.end(), '\n'), 2) << got.out;
        }
        // One line per tile, named, each what that display alone gets.
        const CliResult tiles = run({c.file, "-d", "video,waveform,picture", "--print-config"});
        ASSERT_EQ(tiles.status, 0) << tiles.err;
        std::string want;
        for (const char* display : {"video", "waveform", "picture"}) {
            std::string alone =
                run({c.file, "-d", display, "--matrix", c.matrix, "--range", c.levels, "--print-config"}).out;
            ASSERT_NE(alone.find('\n'), std::string::npos) << display;
            alone[alone.find('\n')] = ' ';
            want += std::string(display) + ": " + alone;
        }
        EXPECT_EQ(tiles.out, want);
        seen += tiles.out;
    }
    // The two inputs get different settings from the same command line.
    EXPECT_NE(seen.substr(0, seen.size() / 2), seen.substr(seen.size() / 2));
}

TEST_F(Pipeline, PrintConfigShowsTheLabelAndTheScriptLine) {
    // With no options, what the store gives: the label after the filter's
    // name and the Config line `kivrel defaults` shows.
    const std::string stored = run({"defaults"}).out;
    CliResult r = run({"--print-config"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Kivrel [1.5] " + stored.substr(0, stored.find("maxIRE")));
    EXPECT_EQ(r.err, "");
    // A saved script's Config lines in order, then the options on top.
    writeText(
        "job.vcf",
        "VirtualDub.Open(\"clip.avi\");\n"
        "VirtualDub.video.filters.Add(\"Kivrel [1.5]\");\n"
        "VirtualDub.video.filters.instance[0].Config(3, 1, 0, 0, 0, 0, 0, 1, 1, 1, 0, 1, 0);\n"
        "\n"
        "VirtualDub.video.filters.instance[0].Config(2, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 0, 1); // last wins\n");
    r = run({"--script", "job.vcf", "--accumulate", "--print-config"});
    EXPECT_EQ(r.out, "Kivrel [1.5] (Video <Red Blue>)\nConfig(2, 0, 1, 1, 1, 1, 1, 0, 1, 0, 1, 0, 1)\n");
    // maxIRE is not part of the line: --max-ire reaches the instance through a store of its own.
    r = run({"-d", "hotpixel", "--change", "intensity", "--max-ire", "100", "--print-config"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "Kivrel [1.5] (Hot Pixel < IRE 100 Change intensity>)\nConfig(1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, "
              "1, 1)\n");
    EXPECT_EQ(r.err, "");
}

// FFmpeg's spellings with a stream specifier are taken whole: -frames:v 2 is
// two frames (never -f "rames:v"), the codec is the one named.
TEST_F(Pipeline, StreamSpecifiersAsFfmpegUsersTypeThem) {
    const CliResult r = run({"clip.mkv", "-d", "picture", "-frames:v", "2", "-c:v:0", "ffv1", "-pix_fmt:v",
                             "bgr0", "-an", "-sn", "-o", "x.mkv", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Decoded d = decodeFile(path("x.mkv"));
    EXPECT_EQ(d.frames.size(), 2u);
    EXPECT_EQ(d.codec, "ffv1");
    for (size_t k = 0; k < d.frames.size(); ++k) EXPECT_TRUE(samePicture(d.frames[k], clip_[k], kAll)) << k;
    const CliResult hashes = run({"clip.mkv", "-frames:V", "3", "-f", "md5", "-o", "-"});
    ASSERT_EQ(hashes.status, 0) << hashes.err;
    EXPECT_EQ(std::count(hashes.out.begin(), hashes.out.end(), '\n'), 3) << hashes.out;
}
