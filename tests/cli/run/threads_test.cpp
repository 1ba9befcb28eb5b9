// Threads change how fast a run goes, never what it gives: every display's
// whole output, frame by frame and in order, is the same with -threads 1
// (every stage in turn on one thread) as with several, damaged frames are
// found and left out the same way, and memory stays flat however long the run.
#include <gtest/gtest.h>

#include "cli/support/cli_runner.h"
#include "cli/support/media.h"
#include "core/settings_vocabulary.h"

namespace {

constexpr int kClipFps = 10;
constexpr int kClipFrames = 12;

class Threads : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        ASSERT_EQ(writeClip(path("clip.mkv"), clip_, kClipFps), "");
    }
    // The run's hash lines, on standard output.
    std::string hashes(Args args, const std::string& threads) {
        args.insert(args.end(), {"-f", "md5", "-o", "-", "-q", "-threads", threads});
        const CliResult r = run(args);
        EXPECT_EQ(r.status, 0) << testing::PrintToString(args) << "\n" << r.err;
        return r.out;
    }
    const std::vector<Image> clip_ = patternClip(37, 21, kClipFrames);  // every frame different, odd sizes
};

}  // namespace

TEST_F(Threads, EveryDisplayGivesTheSameFramesInTheSameOrder) {
    struct Case {
        Args args;
        long frames;
    };
    std::vector<Case> cases;
    for (int mode = 0; mode < kDisplayModeCount; ++mode)
        cases.push_back(
            {{"clip.mkv", "-d", std::string(kDisplayNames[mode]), "--channels", "all"}, kClipFrames});
    cases.push_back(
        {{"clip.mkv", "-d", "histograms", "--accumulate"}, kClipFrames});  // one instance, in order
    cases.push_back(
        {{"clip.mkv", "-d", "video", "--passthru", "--pad-pitch", "3", "-ss", "3f", "-frames", "7"}, 7});
    cases.push_back({{"--card-size", "17x9", "-d", "waveform", "-frames", "5"}, 5});  // a still, repeated
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const std::string one = hashes(c.args, "1");
        EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), c.frames);
        for (const char* threads : {"0", "2", "5"})
            EXPECT_EQ(hashes(c.args, threads), one) << "-threads " << threads;
    }
}

TEST_F(Threads, DamagedFramesAreFoundWhereverTheDecoderRunsAhead) {
    // Frame threads decode several frames at once: damage in a late frame
    // still names that frame and leaves out only it.
    const std::vector<PacketSpan> spans = decodeFile(path("clip.mkv")).packets;
    ASSERT_EQ(spans.size(), clip_.size());
    std::string data = readText("clip.mkv");
    for (const int hurt : {8, 3}) {
        const PacketSpan& s = spans[static_cast<size_t>(hurt)];
        for (auto i = static_cast<size_t>(s.pos + s.size / 4); i < static_cast<size_t>(s.pos + s.size / 2);
             ++i)
            data[i] ^= 0x5A;
    }
    writeText("hurt.mkv", data);
    for (const char* threads : {"1", "0", "3"}) {
        SCOPED_TRACE(std::string("-threads ") + threads);
        CliResult r = run({"hurt.mkv", "-d", "video", "--passthru", "-o", "x.md5", "-threads", threads});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("hurt.mkv: frame 3 is damaged"), std::string::npos) << r.err;
        r = run({"hurt.mkv", "-d", "video", "--passthru", "-f", "md5", "-o", "-", "--skip-errors", "-threads",
                 threads});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.err.find("left out 2 damaged frames"), std::string::npos) << r.err;
        // The hash lines name the source frames kept: all but 3 and 8.
        std::vector<int> kept;
        for (size_t at = 0; at < r.out.size(); at = r.out.find('\n', at) + 1)
            kept.push_back(std::stoi(r.out.substr(r.out.find(',', at) + 1)));
        EXPECT_EQ(kept, (std::vector<int>{0, 1, 2, 4, 5, 6, 7, 9, 10, 11}));
    }
}

TEST_F(Threads, MemoryStaysFlatOverThousandsOfFrames) {
#if defined(KIVREL_SANITIZED)
    GTEST_SKIP() << "the sanitizer keeps freed memory aside, so the peak grows with every allocation";
#endif
    // A leak of even a few hundred bytes a frame shows over 3000 frames.
    constexpr long kSlackKb = 1024;
    for (const char* threads : {"1", "0"}) {
        SCOPED_TRACE(std::string("-threads ") + threads);
        long peak[2] = {};
        int k = 0;
        for (const char* frames : {"100", "3000"}) {
            const CliResult r = run({"--card-size", "64x48", "-d", "vectorscope", "--null", "-q", "-frames",
                                     frames, "-threads", threads});
            ASSERT_EQ(r.status, 0) << r.err;
            peak[k++] = r.peakKb;
        }
        EXPECT_LE(peak[1], peak[0] + kSlackKb) << "peak " << peak[0] << " KB after 100 frames";
    }
}
