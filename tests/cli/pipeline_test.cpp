// decode -> filter -> encode through the real executable, checked by
// decoding its output back: the video view's pixels are exactly predictable.
#include <gtest/gtest.h>

#include "cli/test_card.h"
#include "cli_runner.h"
#include "media.h"

namespace {

constexpr int32_t kClipW = 32, kClipH = 24;
constexpr int kClipFrames = 6;
constexpr int kClipFps = 10;

Image masked(const Image& img, uint32_t mask) {
    Image out = img;
    for (uint32_t& p : out.px) p &= mask;
    return out;
}

// First differing pixel, for a readable failure.
::testing::AssertionResult samePicture(const Image& got, const Image& want) {
    if (got.w != want.w || got.h != want.h)
        return ::testing::AssertionFailure()
               << "size " << got.w << "x" << got.h << ", want " << want.w << "x" << want.h;
    for (int32_t y = 0; y < want.h; ++y)
        for (int32_t x = 0; x < want.w; ++x)
            if (got.at(x, y) != want.at(x, y))
                return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << std::hex
                                                     << got.at(x, y) << ", want " << want.at(x, y);
    return ::testing::AssertionSuccess();
}

class Pipeline : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        clip_ = patternClip(kClipW, kClipH, kClipFrames);
        ASSERT_EQ(writeClip(path("clip.mkv"), clip_, kClipFps), "");
    }
    // Frames of the clip from `first` on, masked.
    void expectFrames(const Decoded& d, int first, int count, uint32_t mask) {
        ASSERT_EQ(d.error, "");
        ASSERT_EQ(static_cast<int>(d.frames.size()), count);
        for (int k = 0; k < count; ++k) {
            SCOPED_TRACE("output frame " + std::to_string(k));
            EXPECT_TRUE(samePicture(d.frames[static_cast<size_t>(k)],
                                    masked(clip_[static_cast<size_t>(first + k)], mask)));
        }
    }
    std::vector<Image> clip_;
};

}  // namespace

TEST_F(Pipeline, TestCardInPassThroughIsTheCardItself) {
    // No input and no output name: the built-in card, written under a name
    // made from "testcard" and the display, in the current folder.
    const CliResult r = run({"-d", "video", "--passthru"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.errLines().size(), 1u) << r.err;
    EXPECT_EQ(r.errLines()[0].rfind("kivrel: wrote testcard.passthru.png: 1 frame 640x480 in ", 0), 0u)
        << r.err;
    const Decoded d = decodeFile(path("testcard.passthru.png"));
    ASSERT_EQ(d.frames.size(), 1u) << d.error;
    EXPECT_TRUE(samePicture(d.frames[0], testCard(kTestCardWidth, kTestCardHeight)));
}

TEST_F(Pipeline, ClipThroughTheVideoViewKeepsEveryPixelAndTheFrameRate) {
    struct Case {
        std::vector<std::string> settings;
        uint32_t mask;
    };
    const Case cases[] = {
        {{"--passthru"}, 0xFFFFFF},     {{"-c", "red"}, 0xFF0000},  {{"-c", "green,blue"}, 0x00FFFF},
        {{"--channels=r,g"}, 0xFFFF00}, {{"-c", "none"}, 0x000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings[0]);
        std::vector<std::string> args = {"clip.mkv", "-d", "video", "-o", "out.mkv", "-y", "-q"};
        args.insert(args.end(), c.settings.begin(), c.settings.end());
        const CliResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");  // --quiet
        const Decoded d = decodeFile(path("out.mkv"));
        EXPECT_EQ(d.codec, "ffv1");
        EXPECT_EQ(d.fpsNum * 1, kClipFps * d.fpsDen);
        expectFrames(d, 0, kClipFrames, c.mask);
    }
}

TEST_F(Pipeline, PaddedPitchAndOtherContainersGiveTheSamePixels) {
    for (const char* out : {"pad.mkv", "out.avi"}) {
        SCOPED_TRACE(out);
        const CliResult r =
            run({"clip.mkv", "-d", "video", "-c", "red,blue", "--pad-pitch", "3", "-o", out, "-q"});
        ASSERT_EQ(r.status, 0) << r.err;
        expectFrames(decodeFile(path(out)), 0, kClipFrames, 0xFF00FF);
    }
}

TEST_F(Pipeline, StartAndFramesPickTheRightFrames) {
    struct Case {
        std::vector<std::string> pick;
        int first, count;
    };
    const Case cases[] = {
        {{"--start", "2", "--frames", "3"}, 2, 3},  // frame numbers
        {{"-s", "0.3s", "-n", "2"}, 3, 2},          // a time: 0.3 s at 10 fps is frame 3
        {{"--start=0:00.5"}, 5, 1},
        {{"--frames", "100"}, 0, kClipFrames},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pick[0] + " " + c.pick[1 % c.pick.size()]);
        std::vector<std::string> args = {"clip.mkv", "-d",      "video", "--passthru",
                                         "-o",       "out.mkv", "-y",    "-q"};
        args.insert(args.end(), c.pick.begin(), c.pick.end());
        const CliResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        expectFrames(decodeFile(path("out.mkv")), c.first, c.count, 0xFFFFFF);
    }
}

TEST_F(Pipeline, ImageSequenceIsNumberedBySourceFrame) {
    const CliResult r =
        run({"clip.mkv", "-d", "video", "--passthru", "--start", "2", "-n", "2", "-o", "f_%02d.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("wrote f_02.png ... f_03.png: 2 frames 32x24"), std::string::npos) << r.err;
    EXPECT_EQ(files(), (std::set<std::string>{"clip.mkv", "f_02.png", "f_03.png"}));
    for (int k : {2, 3}) {
        const Decoded d = decodeFile(path("f_0" + std::to_string(k) + ".png"));
        ASSERT_EQ(d.frames.size(), 1u);
        EXPECT_TRUE(samePicture(d.frames[0], clip_[static_cast<size_t>(k)]));
    }
}

TEST_F(Pipeline, StillGivesAPictureAndRepeatedAClip) {
    const Image still = patternFrame(17, 9, 3);  // odd sizes
    ASSERT_EQ(writeStill(path("still.png"), still), "");
    CliResult r = run({"still.png", "-d", "video", "--passthru", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    Decoded d = decodeFile(path("still.passthru.png"));
    ASSERT_EQ(d.frames.size(), 1u) << d.error;
    EXPECT_TRUE(samePicture(d.frames[0], still));

    r = run({"still.png", "-d", "video", "-c", "green", "--frames", "3", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    d = decodeFile(path("still.video.mkv"));
    ASSERT_EQ(d.frames.size(), 3u) << d.error;
    EXPECT_EQ(d.fpsNum, 25 * d.fpsDen);
    for (const Image& f : d.frames) EXPECT_TRUE(samePicture(f, masked(still, 0x00FF00)));
}

TEST_F(Pipeline, DisplaysWriteFramesOfTheirOwnSize) {
    // Every display's geometry is checked in process (module_host_test.cpp);
    // here, that the writer takes the size the filter chose, not the source's.
    struct Case {
        const char* display;
        int32_t w, h;
    };
    // The source is 32x24: the waveform adds 40 columns and stacks four
    // 128-level panels, the vectorscope has its fixed size.
    const Case cases[] = {{"waveform", 72, 562}, {"vectorscope", 632, 632}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.display);
        const CliResult r = run({"clip.mkv", "-d", c.display, "-c", "all", "--no-passthru", "-n", "2", "-q"});
        ASSERT_EQ(r.status, 0) << r.err;
        const Decoded d = decodeFile(path(std::string("clip.") + c.display + ".mkv"));
        ASSERT_EQ(d.frames.size(), 2u) << d.error;
        EXPECT_EQ(d.frames[0].w, c.w);
        EXPECT_EQ(d.frames[0].h, c.h);
    }
}

TEST_F(Pipeline, NullOutputWritesNothingAndSaysSo) {
    const CliResult r = run({"clip.mkv", "--null"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(files(), std::set<std::string>{"clip.mkv"});
    ASSERT_EQ(r.errLines().size(), 1u) << r.err;
    EXPECT_EQ(r.errLines()[0].rfind("kivrel: 6 frames 360x570 in ", 0), 0u) << r.err;
    EXPECT_EQ(r.errLines()[0].find("encode"), std::string::npos);
}

TEST_F(Pipeline, ProgressShowsOnATerminalOnly) {
    CliResult r = run({"clip.mkv", "--null"}, /*onTerminal=*/true);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("/6 frames"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" fps "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" left"), std::string::npos) << r.err;
    r = run({"clip.mkv", "--null", "-q"}, /*onTerminal=*/true);
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST_F(Pipeline, ExistingOutputIsReplacedOnlyWhenAsked) {
    writeText("out.png", "mine");
    CliResult r = run({"-o", "out.png"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "kivrel: out.png exists; use --overwrite (-y) to replace it\n");
    EXPECT_EQ(readText("out.png"), "mine");
    EXPECT_EQ(files(), (std::set<std::string>{"clip.mkv", "out.png"}));
    r = run({"-o", "out.png", "--overwrite", "--card-size", "8x6", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Decoded d = decodeFile(path("out.png"));
    ASSERT_EQ(d.frames.size(), 1u);
    EXPECT_EQ(d.frames[0].w, 360);  // histograms, the stored default
}

TEST_F(Pipeline, PrintConfigShowsTheLabelAndTheScriptLine) {
    struct Case {
        std::vector<std::string> args;
        const char* out;
    };
    const Case cases[] = {
        {{},
         "Kivrel [1.5] (Histograms < Luma Red Green Blue>)\nConfig(0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)\n"},
        {{"-d", "waveform", "-c", "luma", "--system", "pal", "--matrix", "709", "--range", "16-235",
          "--no-gamma"},
         "Kivrel [1.5] (Wave Form Monitor <Luma >)\nConfig(3, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1)\n"},
        {{"-d", "hotpixel", "--change", "intensity"},
         "Kivrel [1.5] (Hot Pixel < IRE 110 Change intensity>)\nConfig(1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, "
         "1)\n"},
        {{"-d", "vectorscope"}, "Kivrel [1.5]\nConfig(4, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("--print-config");
        SCOPED_TRACE(args[0]);
        const CliResult r = run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
    }
    // A saved script first, then the options on top of it.
    writeText("job.vcf",
              "VirtualDub.video.filters.instance[0].Config(2, 0, 0, 1, 1, 1, 1, 0, 1, 0, 1, 0, 1);\n");
    CliResult r = run({"--script", "job.vcf", "--accumulate", "--print-config"});
    EXPECT_EQ(r.out, "Kivrel [1.5] (Video <Red Blue>)\nConfig(2, 0, 1, 1, 1, 1, 1, 0, 1, 0, 1, 0, 1)\n");
    // maxIRE travels only through the settings store, which does not exist yet.
    r = run({"-d", "hotpixel", "--max-ire", "100", "--print-config"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "Kivrel [1.5] (Hot Pixel < IRE 110 Change to black>)\nConfig(1, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, "
              "0, 1)\n");
    EXPECT_EQ(r.err,
              "kivrel: warning: --max-ire 100 is not applied: the filter takes maxIRE from its settings "
              "store, which this build lacks\n");
}
