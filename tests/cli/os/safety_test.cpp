// Nothing lost, however a run ends: outputs that are the input, links,
// kept permissions, FIFOs and pipes, every terminating and crash signal,
// a read that blocks, an image sequence's names, --keep-partial; and the
// messages and formats a user meets on the way.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "cli/support/cli_runner.h"
#include "cli/support/media.h"
#include "cli/support/process_wait.h"

namespace {

constexpr int kClipFps = 10;
constexpr int kClipFrames = 6;
constexpr uint32_t kAll = 0xFFFFFF;

bool hasTemp(const std::set<std::string>& names) {
    for (const std::string& n : names)
        if (n.find(".kivrel-") != std::string::npos) return true;
    return false;
}

std::string drainFd(int fd) {
    std::string bytes;
    char buf[65536];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) bytes.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return bytes;
}

class Safety : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        ASSERT_EQ(writeClip(path("clip.mkv"), clip_, kClipFps), "");
    }
    // The clip's frames, in order, as `file` holds them.
    void expectClipFrames(const std::string& file, size_t count) {
        const Decoded d = decodeFile(path(file));
        ASSERT_EQ(d.error, "") << file;
        ASSERT_EQ(d.frames.size(), count) << file;
        for (size_t k = 0; k < count; ++k) EXPECT_TRUE(samePicture(d.frames[k], clip_[k], kAll)) << k;
    }
    // Waits (a few seconds at most) until the run has a temporary file open.
    bool waitForTemp() {
        for (int i = 0; i < 500 && !hasTemp(files()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return hasTemp(files());
    }
    const std::vector<Image> clip_ = patternClip(16, 8, kClipFrames);
    const Args passthru_ = {"-d", "video", "--passthru", "-q"};
};

}  // namespace

TEST_F(Safety, TheInputIsNeverAnOutput) {
    ASSERT_TRUE(writePng(path("same.png"), patternFrame(5, 4, 0)));
    std::filesystem::create_symlink("clip.mkv", path("link.mkv"));
    std::filesystem::create_hard_link(path("clip.mkv"), path("hard.mkv"));
    const std::string clip = readText("clip.mkv"), png = readText("same.png");
    const std::pair<Args, const char*> cases[] = {
        {{"clip.mkv", "-o", "clip.mkv"}, "clip.mkv"},
        {{"clip.mkv", "-o", "clip.mkv", "-y"}, "clip.mkv"},
        {{"clip.mkv", "-o", "./clip.mkv", "-y"}, "./clip.mkv"},
        {{"clip.mkv", "-o", "link.mkv", "-y"}, "link.mkv"},
        {{"link.mkv", "-o", "hard.mkv", "-y"}, "hard.mkv"},
        {{"same.png", "-o", "same.png", "-y"}, "same.png"},
    };
    const std::set<std::string> before = files();
    for (const auto& [args, shown] : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        const CliResult r = run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "kivrel: " + std::string(shown) +
                             " is the input file; kivrel never writes over its input\n");
        EXPECT_EQ(files(), before);
    }
    EXPECT_EQ(readText("clip.mkv"), clip);
    EXPECT_EQ(readText("same.png"), png);
}

TEST_F(Safety, OverwriteFollowsALinkAndKeepsTheMode) {
    writeText("target.mkv", "old");
    ::chmod(path("target.mkv").c_str(), 0640);
    std::filesystem::create_symlink("target.mkv", path("link.mkv"));
    Args args = {"clip.mkv", "-o", "link.mkv"};
    args.insert(args.end(), passthru_.begin(), passthru_.end());
    CliResult r = run(args);  // without -y the link's file stays
    EXPECT_EQ(r.err, "kivrel: link.mkv exists; use -y to replace it\n");
    args.push_back("-y");
    r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::is_symlink(path("link.mkv")));
    EXPECT_EQ(std::filesystem::read_symlink(path("link.mkv")), "target.mkv");
    struct stat st {};
    ASSERT_EQ(::stat(path("target.mkv").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    expectClipFrames("target.mkv", kClipFrames);
    EXPECT_EQ(files(), (std::set<std::string>{"clip.mkv", "link.mkv", "target.mkv"}));
}

TEST_F(Safety, FifosAndStandardOutputAreWrittenDirectly) {
    ASSERT_EQ(::mkfifo(path("out.mkv").c_str(), 0600), 0);
    std::string viaFifo;
    std::thread reader([&] { viaFifo = drainFd(::open(path("out.mkv").c_str(), O_RDONLY)); });
    Args args = {"clip.mkv", "-o", "out.mkv"};
    args.insert(args.end(), passthru_.begin(), passthru_.end());
    const CliResult r = run(args);
    reader.join();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(files(), (std::set<std::string>{"clip.mkv", "out.mkv"}));
    writeText("fifo.mkv", viaFifo);
    expectClipFrames("fifo.mkv", kClipFrames);

    args = {"clip.mkv", "-f", "nut", "-o", "-"};
    args.insert(args.end(), passthru_.begin(), passthru_.end());
    Child c = spawnKivrel(args, dir_, true);
    writeText("piped.nut", drainFd(c.out));
    EXPECT_EQ(c.wait(), 0) << readFile(c.errFile);
    expectClipFrames("piped.nut", kClipFrames);
}

// A clip fed through a FIFO that then stalls with its writer open: the run
// writes every frame it got and blocks reading the next one. Longer than
// the five seconds FFmpeg reads ahead to learn the streams.
TEST_F(Safety, EveryTerminatingSignalCleansUpAndExitsWith128PlusIt) {
    constexpr int kFedFrames = 80;
    const std::vector<Image> fed = patternClip(16, 8, kFedFrames);
    ASSERT_EQ(writeClip(path("clip.nut"), fed, kClipFps), "");
    const std::string nut = readText("clip.nut");
    std::filesystem::remove(path("clip.nut"));
    ASSERT_EQ(::mkfifo(path("in.nut").c_str(), 0600), 0);
    struct Case {
        int sig;
        bool keep;
    };
    for (const Case c : {Case{SIGHUP, false},
                         {SIGINT, false},
                         {SIGQUIT, false},
                         {SIGTERM, false},
                         {SIGPIPE, false},
                         {SIGINT, true},
                         {SIGTERM, true}}) {
        SCOPED_TRACE(std::string(sigabbrev_np(c.sig)) + (c.keep ? " --keep-partial" : ""));
        Args args = {"in.nut", "-o", "out.mkv"};
        args.insert(args.end(), passthru_.begin(), passthru_.end());
        if (c.keep) args.push_back("--keep-partial");
        Child child = spawnKivrel(args, dir_, false);
        const int feed = ::open(path("in.nut").c_str(), O_WRONLY);
        ASSERT_EQ(::write(feed, nut.data(), nut.size()), static_cast<ssize_t>(nut.size()));
        ASSERT_TRUE(waitForTemp());
        ASSERT_TRUE(waitUntilIdle(child.pid)) << "never waited for more input";  // the frames it has, done
        ::kill(child.pid, c.sig);
        EXPECT_EQ(child.wait(), 128 + c.sig);
        ::close(feed);
        const std::string err = readFile(child.errFile);
        const std::string why = "kivrel: interrupted by SIG" + std::string(sigabbrev_np(c.sig));
        if (!c.keep) {
            EXPECT_EQ(err, why + "; nothing written\n");
            EXPECT_EQ(files(), (std::set<std::string>{"clip.mkv", "in.nut"}));
            continue;
        }
        EXPECT_EQ(err, why + "; kept " + std::to_string(kFedFrames) + " finished frames in out.mkv\n");
        EXPECT_EQ(files(), (std::set<std::string>{"clip.mkv", "in.nut", "out.mkv"}));
        const Decoded d = decodeFile(path("out.mkv"));
        ASSERT_EQ(d.frames.size(), fed.size()) << d.error;
        EXPECT_TRUE(samePicture(d.frames.back(), fed.back()));
        std::filesystem::remove(path("out.mkv"));
    }
}

TEST_F(Safety, AStalledPipeStopsWithinASecondOfCtrlC) {
    ASSERT_EQ(::mkfifo(path("in.nut").c_str(), 0600), 0);
    for (bool writer : {false, true}) {  // no writer yet; a writer that sends nothing
        SCOPED_TRACE(writer ? "silent writer" : "no writer");
        Child child = spawnKivrel({"in.nut", "-o", "out.mkv"}, dir_, false);
        const int hold = writer ? ::open(path("in.nut").c_str(), O_WRONLY) : -1;
        ASSERT_TRUE(waitUntilIdle(child.pid)) << "never blocked on the pipe";
        const auto sent = std::chrono::steady_clock::now();
        ::kill(child.pid, SIGINT);
        EXPECT_EQ(child.wait(), 128 + SIGINT);
        EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(1));
        if (hold >= 0) ::close(hold);
        EXPECT_EQ(files(), (std::set<std::string>{"clip.mkv", "in.nut"}));
    }
}

TEST_F(Safety, ACrashInTheFilterRemovesTemporaryFilesAndNamesTheFrame) {
    for (const char* out : {"out.mkv", "f_%02d.png"}) {
        SCOPED_TRACE(out);
        const CliResult r =
            run({"clip.mkv", "-o", out, "--module", KIVREL_FAKE_MODULE_DIR "/fake_crash.so", "-q"});
        EXPECT_EQ(r.status, 128 + SIGSEGV);
        EXPECT_EQ(r.err,
                  "kivrel: SIGSEGV (invalid memory access) in the filter's runProc at frame 2; temporary "
                  "files removed\n");
        EXPECT_EQ(files(), (std::set<std::string>{"clip.mkv"}));
    }
}

TEST_F(Safety, SequenceNamesAreCheckedBeforeTheFirstFrame) {
    writeText("f_04.png", "mine");
    Args args = {"clip.mkv", "-o", "f_%02d.png"};
    args.insert(args.end(), passthru_.begin(), passthru_.end());
    CliResult r = run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "kivrel: f_04.png exists; use -y to replace it (frame 4 of 6 of the sequence f_%02d.png)\n");
    EXPECT_EQ(files(), (std::set<std::string>{"clip.mkv", "f_04.png"}));
    // Three frames from 1 do not reach it.
    args.insert(args.end(), {"-frames", "3"});
    r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readText("f_04.png"), "mine");
}

TEST_F(Safety, KeepPartialKeepsTheFramesBeforeAFailure) {
    Args make = {"clip.mkv", "-o", "good.md5"};
    make.insert(make.end(), passthru_.begin(), passthru_.end());
    ASSERT_EQ(run(make).status, 0);
    std::string hashes = readText("good.md5");
    const size_t third = hashes.find("\n2,2,") + 5;  // the third frame's md5 no longer matches
    hashes[third] = hashes[third] == '0' ? '1' : '0';
    writeText("bad.md5", hashes);
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"part.mkv", {"part.mkv"}}, {"p_%d.png", {"p_1.png", "p_2.png"}}, {"x.mkv", {}}};
    for (const auto& [out, kept] : cases) {
        SCOPED_TRACE(out);
        Args args = {"clip.mkv", "--verify", "bad.md5", "-o", out};
        args.insert(args.end(), passthru_.begin(), passthru_.end());
        if (!kept.empty()) args.push_back("--keep-partial");
        const CliResult r = run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(kept.empty() ? "differs" : "; kept 2 finished frames in "), std::string::npos)
            << r.err;
        std::set<std::string> expected = {"clip.mkv", "good.md5", "bad.md5"};
        expected.insert(kept.begin(), kept.end());
        EXPECT_EQ(files(), expected);
        if (kept.size() == 1) expectClipFrames(kept[0], 2);
        for (const std::string& f : kept) std::filesystem::remove(path(f));
    }
}

TEST_F(Safety, FormatsAndMessages) {
    ASSERT_EQ(writeClip(path("one.mkv"), {clip_[0]}, kClipFps), "");
    struct Case {
        Args args;
        const char* out;
        std::string (*check)(const std::string& bytes);  // "" or what is wrong
    };
    const Case cases[] = {
        // The muxer names the default output's extension.
        {{"clip.mkv", "-f", "matroska"},
         "clip.passthru.mkv",
         [](const std::string& b) { return b.substr(0, 4) == "\x1a\x45\xdf\xa3" ? "" : b.substr(0, 4); }},
        // One frame of video makes a picture without -frames 1.
        {{"one.mkv"},
         "one.passthru.png",
         [](const std::string& b) { return b.substr(1, 3) == "PNG" ? "" : b.substr(0, 8); }},
        // YUV4MPEG takes YUV only: 4:4:4 is chosen, not an error.
        {{"clip.mkv", "-o", "x.y4m"},
         "x.y4m",
         [](const std::string& b) {
             return b.find(" C444 ") < b.find('\n') ? "" : b.substr(0, b.find('\n'));
         }},
        // .mp4: H.264 High 4:4:4 Predictive (profile 244) where libx264 is there.
        {{"clip.mkv", "-o", "x.mp4"},
         "x.mp4",
         [](const std::string& b) {
             const size_t avcc = b.find("avcC");
             if (avcc == std::string::npos) return std::string("no H.264");
             return static_cast<unsigned char>(b[avcc + 5]) == 244
                        ? ""
                        : "profile " + std::to_string(static_cast<unsigned char>(b[avcc + 5]));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Args args = c.args;
        args.insert(args.end(), passthru_.begin(), passthru_.end());
        const CliResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(c.check(readText(c.out)), "");
    }
}
