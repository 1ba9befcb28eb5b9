// Everything that can be wrong with what a user hands over: one clear line
// on stderr naming the problem, a non-zero exit, and nothing left behind.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "cli/support/cli_runner.h"
#include "cli/support/media.h"
#include "pluginhost/module_host.h"
#include "vocabulary.h"

namespace {

constexpr int kClipFps = 10;  // four frames: 0.40 s

// Opens the FIFO at `fifo` for writing, writes `bytes` and dies by SIGKILL,
// as a writer killed part way would. Only calls a forked child may make.
pid_t dyingWriter(const std::string& fifo, const std::string& bytes) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    for (size_t at = 0; fd >= 0 && at < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (n <= 0) break;
        at += static_cast<size_t>(n);
    }
    ::kill(::getpid(), SIGKILL);
    ::_exit(1);
}

std::string naming(std::string message, const std::string& path) {
    return message.replace(message.find('@'), 1, path);
}

class BadInput : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        ASSERT_EQ(writeClip(path("clip.mkv"), clip_, kClipFps), "");
    }
    // Runs, and checks the one line, the status and that no file appeared.
    void expectRefusal(const Args& args, int status, const std::string& message) {
        SCOPED_TRACE("kivrel " + testing::PrintToString(args));
        const std::set<std::string> before = files();
        const CliResult r = run(args);
        EXPECT_EQ(r.status, status);
        ASSERT_TRUE(r.oneLine()) << r.err;
        EXPECT_EQ(r.err.rfind("kivrel: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(files(), before);
    }
    const std::vector<Image> clip_ = patternClip(32, 24, 4);
};

}  // namespace

TEST_F(BadInput, EachProblemIsOneLineAndNothingIsWrittenOrReplaced) {
    writeText("notes.mkv", "these are not moving pictures\n");
    writeText("empty.png", "");
    writeText("out.png", "mine");
    writeText("mode7.vcf", "Config(7, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)\n");
    ASSERT_TRUE(writePng(path("still.png"), patternFrame(5, 4, 0)));
    std::filesystem::create_directory(path("folder.mkv"));
    std::filesystem::create_directory(path("dir.png"));
    struct Case {
        Args args;
        const char* message;
        int status = kExitFailure;
    };
    const Case cases[] = {
        {{"nosuch.mkv", "-o", "x.mkv"}, "nosuch.mkv: No such file or directory"},
        {{"folder.mkv", "-o", "x.mkv"}, "folder.mkv: is a directory"},
        {{"notes.mkv", "-o", "x.mkv"}, "notes.mkv: not a picture or video format FFmpeg can read"},
        {{"empty.png", "-o", "x.png"}, "empty.png: the file is empty (0 bytes), not a picture or video"},
        // Every option message is checked in process (options_test.cpp).
        {{"--display", "scope"},
         "--display: 'scope' is not one of histograms, hotpixel, video, waveform, vectorscope, picture (or "
         "passthru), parade, or a comma-separated list of them (kivrel --help lists the options)",
         kExitUsage},
        {{"clip.mkv", "-frames", "0"}, "-frames: '0' is not a whole number from 1 up", kExitUsage},
        {{"--colour"}, "unknown option '--colour'", kExitUsage},
        {{"-o", "nowhere/x.png"}, "cannot write nowhere/x.png: No such file or directory"},
        {{"-o", "x.foo"}, "cannot tell a file type from the name x.foo", kExitUsage},
        {{"-o", "x.wav"}, "x.wav: wav is an audio-only format", kExitUsage},
        {{"-o", "x_%d.mkv"}, "x_%d.mkv: a numbered sequence needs a picture type", kExitUsage},
        {{"-o", "-"}, "standard output ('-') needs -f naming what to write there", kExitUsage},
        {{"-f", "image", "-o", "-"}, "the image output cannot go to standard output ('-')", kExitUsage},
        {{"-f", "wav", "-o", "-"}, "-f: wav is an audio-only format", kExitUsage},
        {{"-o", "."}, ". is a folder; name a file in it (./testcard.histograms.png)"},
        {{"clip.mkv", "-c:v", "nosuch", "-o", "x.mkv"},
         "-c:v: this FFmpeg has no video encoder called 'nosuch'",
         kExitUsage},
        {{"clip.mkv", "-pix_fmt", "yuv420q", "-o", "x.mkv"},
         "-pix_fmt: 'yuv420q' is not a pixel format",
         kExitUsage},
        {{"clip.mkv", "-pix_fmt", "yuv420p", "-frames", "1", "-o", "x.png"},
         "cannot encode x.png: png does not take -pix_fmt yuv420p (it takes rgb24",
         kExitUsage},
        {{"-f", "video", "-o", "x.png"}, "x.png: not a video container FFmpeg writes", kExitUsage},
        {{"--verify", "nosuch.md5", "--null"}, "--verify: cannot read nosuch.md5: No such file or directory"},
        {{"clip.mkv", "-o", "x.png"}, "x.png holds one picture, but clip.mkv gives a clip"},
        {{"-o", "out.png"}, "out.png exists; use -y to replace it"},
        {{"clip.mkv", "-o", "clip.mkv"}, "clip.mkv is the input file; kivrel never writes over its input"},
        {{"-o", "dir.png"}, "dir.png is a folder; name a file in it (dir.png/testcard.histograms.png)"},
        {{"clip.mkv", "-ss", "10f", "-o", "x.mkv"}, "-ss 10f is past the end of clip.mkv: it holds 4 frames"},
        {{"clip.mkv", "-ss", "2", "-o", "x.mkv"},
         "-ss 2 is past the end of clip.mkv: its last frame starts at 0.300 s"},
        {{"still.png", "-ss", "1f", "-o", "x.png"},
         "still.png is a still picture: -ss 1f is past its only frame"},
        {{"--script", "mode7.vcf", "-o", "x.png"},
         "the settings select display mode 7, which the filter does not render"},
    };
    for (const Case& c : cases) expectRefusal(c.args, c.status, c.message);
    if (::geteuid() != 0) {  // root reads every file whatever its mode
        std::filesystem::copy_file(path("clip.mkv"), path("locked.mkv"));
        ::chmod(path("locked.mkv").c_str(), 0);
        expectRefusal({"locked.mkv", "-o", "x.mkv"}, kExitFailure, "locked.mkv: Permission denied");
    }
    EXPECT_EQ(readText("out.png"), "mine");
    const CliResult r = run({"-o", "out.png", "--overwrite", "--card-size", "8x6", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Decoded d = decodeFile(path("out.png"));
    ASSERT_EQ(d.frames.size(), 1u);
    EXPECT_EQ(d.frames[0].w, 360);  // histograms, the stored default
}

TEST_F(BadInput, CutOrDamagedClipStopsTheRunUnlessSkipped) {
    const std::vector<PacketSpan> spans = decodeFile(path("clip.mkv")).packets;
    ASSERT_EQ(spans.size(), clip_.size());
    const std::string data = readText("clip.mkv");
    const size_t mid = static_cast<size_t>(spans[2].pos + spans[2].size / 2);
    // Cut in the middle of frame 2: Matroska ends quietly where the data
    // ends, and only the length the file states tells that two frames are missing.
    writeText("cut.mkv", data.substr(0, mid));
    expectRefusal(
        {"cut.mkv", "-o", "x.mkv"}, kExitFailure,
        "cut.mkv: the file stops at 0.20 s, short of the 0.40 s it states: it is cut short; the last "
        "good one before it is frame 1 at 0.100 s; the input is damaged (--skip-errors keeps the "
        "frames before the cut)");

    std::string hurt = data;
    for (size_t i = static_cast<size_t>(spans[2].pos + spans[2].size / 4); i < mid; ++i) hurt[i] ^= 0x5A;
    writeText("hurt.mkv", hurt);
    expectRefusal({"hurt.mkv", "-d", "video", "-o", "x.mkv"}, kExitFailure, "hurt.mkv: frame 2 is damaged");
    const CliResult r = run({"hurt.mkv", "-d", "video", "--passthru", "-o", "x.mkv", "--skip-errors"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("3 frames 32x24"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("left out 1 damaged frame"), std::string::npos) << r.err;
    const Decoded d = decodeFile(path("x.mkv"));
    ASSERT_EQ(d.frames.size(), 3u);
    for (size_t k = 0; k < 3; ++k) EXPECT_TRUE(samePicture(d.frames[k], clip_[k < 2 ? k : 3])) << k;
    // The left-out frame leaves its time as a gap.
    ASSERT_EQ(d.times.size(), 3u);
    EXPECT_NEAR(d.times[2], 3.0 / kClipFps, 1e-3);
}

// Damage of every kind, in files FFmpeg made and then cut: without
// --skip-errors the run stops with one line naming the last good frame
// before the damage; with it the run goes on, warns the same and says in its
// summary that the input is damaged. The last good frame is worked out from
// the bytes kept: Y4M's frames are all one size, and the other containers'
// packets lie where FFmpeg's demuxer finds them in the whole file.
TEST_F(BadInput, DamageNamesTheLastGoodFrameAndStopsUnlessSkipped) {
    constexpr int kW = 32, kH = 24, kFrames = 8, kFps = 10;
    const std::string source = "-f lavfi -i testsrc=size=32x24:rate=10 -frames:v 8 -pix_fmt yuv420p ";
    for (const char* make : {"whole.y4m", "-c:v ffv1 whole.nut", "-c:v ffv1 whole.mkv",
                             "-c:v mpeg4 -g 1 -movflags +faststart whole.mp4"})
        ASSERT_EQ(std::system(("cd " + dir_ + " && ffmpeg -v error " + source + make).c_str()), 0) << make;
    const std::string y4m = readText("whole.y4m");
    const size_t header = y4m.find("FRAME\n");
    const size_t stride =
        std::string("FRAME\n").size() + kW * kH * 3 / 2;  // 4:2:0: Y, then Cb, Cr a quarter each
    ASSERT_EQ(y4m.size(), header + kFrames * stride);
    // The frames whole in the first `kept` bytes of a Y4M.
    const auto y4mWhole = [&](size_t kept) { return static_cast<int64_t>((kept - header) / stride); };

    struct Case {
        const char* what;
        std::string whole;  // the file cut
        size_t kept;        // the bytes left of it; for a container, from `cutPacket`
        int cutPacket;      // cut in the middle of this packet; -1 for a Y4M
        bool fifo = false;  // written into a FIFO by a writer killed after `kept` bytes
        int64_t lastGood = -1;
    };
    std::vector<Case> cases = {
        {"Y4M cut inside a frame's pictures", "whole.y4m", header + 5 * stride + stride / 2, -1},
        {"Y4M whose last frame is short", "whole.y4m", header + 7 * stride + stride - 1, -1},
        {"Y4M cut inside a frame's header line", "whole.y4m", header + 6 * stride + 3, -1},
        {"NUT cut inside a packet", "whole.nut", 0, 5},
        {"Matroska cut inside a block (its header states 0.80 s)", "whole.mkv", 0, 3},
        {"MP4 cut inside a sample (its index lists 8)", "whole.mp4", 0, 6},
        {"Y4M from a FIFO whose writer dies mid-frame", "whole.y4m", header + 3 * stride + stride / 2, -1,
         true},
    };
    for (Case& c : cases) {
        if (c.cutPacket < 0) {
            c.lastGood = y4mWhole(c.kept) - 1;
            continue;
        }
        const Decoded d = decodeFile(path(c.whole));
        ASSERT_EQ(d.packets.size(), static_cast<size_t>(kFrames)) << c.whole;
        const PacketSpan& hurt = d.packets[static_cast<size_t>(c.cutPacket)];
        c.kept = static_cast<size_t>(hurt.pos + hurt.size / 2);
        const auto whole = std::count_if(d.packets.begin(), d.packets.end(), [&](const PacketSpan& p) {
            return static_cast<size_t>(p.pos + p.size) <= c.kept;
        });
        c.lastGood = whole - 1;
    }
    for (const Case& c : cases) {
        const std::string input = "cut" + c.whole.substr(c.whole.find('.'));
        const std::string bytes = readText(c.whole).substr(0, c.kept);
        char good[64];
        std::snprintf(good, sizeof good, "the last good one before it is frame %lld at %.3f s",
                      static_cast<long long>(c.lastGood), static_cast<double>(c.lastGood) / kFps);
        for (const bool skip : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (skip ? ", --skip-errors" : "") + "; " + good);
            std::filesystem::remove(path(input));
            if (c.fifo)
                ASSERT_EQ(::mkfifo(path(input).c_str(), 0600), 0);
            else
                writeText(input, bytes);
            const pid_t writer = c.fifo ? dyingWriter(path(input), bytes) : -1;
            const std::set<std::string> before = files();
            Args args = {input, "-d", "video", "--passthru", "-o", "x.md5", "-y"};
            if (skip) args.push_back("--skip-errors");
            const CliResult r = run(args);
            if (writer > 0) {
                int raw = 0;
                ASSERT_EQ(::waitpid(writer, &raw, 0), writer);
                EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == SIGKILL);
            }
            EXPECT_NE(r.err.find(good), std::string::npos) << r.err;
            if (!skip) {
                EXPECT_EQ(r.status, kExitFailure);
                EXPECT_TRUE(r.oneLine()) << r.err;
                EXPECT_NE(r.err.find("; the input is damaged (--skip-errors"), std::string::npos) << r.err;
                EXPECT_EQ(files(), before);
                continue;
            }
            EXPECT_EQ(r.status, 0) << r.err;
            // The summary, last: the frames before the damage written, and the word.
            const size_t summary = r.err.rfind("kivrel: wrote x.md5: ");
            ASSERT_NE(summary, std::string::npos) << r.err;
            EXPECT_NE(r.err.find("; the input is damaged: ", summary), std::string::npos) << r.err;
            const std::string md5 = readText("x.md5");
            EXPECT_EQ(std::count(md5.begin(), md5.end(), '\n'), c.lastGood + 1) << md5;
            std::filesystem::remove(path("x.md5"));
        }
    }
}

TEST_F(BadInput, ModulesThatCannotBeHosted) {
    const std::string fake = std::string(KIVREL_FAKE_MODULE_DIR) + "/fake_";
    const std::string offers = "; this host offers versions 4 to 8";
    writeText("text.so", "not a library");
    struct Case {
        std::string path, message;  // '@' stands for the path
        bool viaCli = false;        // else in process only, to keep the suite quick
    };
    const Case cases[] = {
        {"nosuch.so", "module @: No such file or directory", true},
        {"/", "module @: is a directory"},
        {path("text.so"), "cannot load module @: ", true},  // then the loader's reason
        {fake + "no_exports.so", "@ is not a filter module: it does not export VirtualdubFilterModuleInit2"},
        {fake + "init_fails.so",
         "module @ failed to register its filter (VirtualdubFilterModuleInit2 returned 1)"},
        {fake + "no_filter.so", "module @ registered no filter"},
        {fake + "too_new.so",
         "module @ is built for filter interface version 9 (compatible down to 9)" + offers, true},
        {fake + "too_old.so",
         "module @ is built for filter interface version 3 (compatible down to 2)" + offers},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        Status error;
        EXPECT_EQ(FilterModuleHost::load(c.path, error), nullptr);
        EXPECT_EQ(error.message().rfind(naming(c.message, c.path), 0), 0u) << error.message();
        if (c.viaCli)
            expectRefusal({"--module", c.path, "-o", "x.png"}, kExitFailure, "kivrel: " + error.message());
    }
}

TEST_F(BadInput, ScriptFileProblemsNameTheFileAndLine) {
    Status error;
    const auto module = FilterModuleHost::load(KIVREL_MODULE_PATH, error);
    ASSERT_NE(module, nullptr) << error.message();
    struct Case {
        const char* text;     // null: no such file
        const char* message;  // '@' stands for the path
        bool viaCli = false;
    };
    const Case cases[] = {
        {nullptr, "cannot read script @: No such file or directory"},
        {"VirtualDub.Open(\"clip.mkv\");\n", "script @ holds no Config line"},
        {"\nVirtualDub.video.filters.instance[0].Config(3, 0, 0, 1);\n",
         "@:2: Config takes 13 integers, the line has 4", true},
        {"Config(3, 0, 0, 1, 1, 1, 1, 1, 1, 1, x, 0, 1)\n",
         "@:1: argument 11 of Config is not an integer: 'x'"},
        {"Config(3, 0, 0, 1, 1\n", "@:1: cannot read this Config line"},
    };
    const std::string script = path("job.vcf");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        std::filesystem::remove(script);
        if (c.text != nullptr) writeText("job.vcf", c.text);
        FilterInstance inst(*module);
        ASSERT_TRUE(inst.init().ok());
        EXPECT_EQ(inst.runScriptFile(script).message(), naming(c.message, script));
        if (c.viaCli)
            expectRefusal({"--script", script}, kExitFailure, "kivrel: " + naming(c.message, script));
    }
}

TEST_F(BadInput, FilterWritingOutsideItsFrameIsCaughtWithPaddedPitch) {
    const std::string stray = std::string(KIVREL_FAKE_MODULE_DIR) + "/fake_stray_write.so";
    expectRefusal({"clip.mkv", "--module", stray, "--pad-pitch", "1", "-o", "x.mkv"}, kExitFailure,
                  "filter Fake wrote outside its output frame at frame 0");
    // Unpadded, the stray word lands on the next row and nobody can tell.
    const CliResult r = run({"clip.mkv", "--module", stray, "-o", "x.mkv", "-q"});
    EXPECT_EQ(r.status, 0) << r.err;
}

// A command line that cannot run, whatever the files hold, exits 2 in every
// command, with one line and nothing written: also where the problem shows
// only once the input is open (a crop's value, a picture size for no tile)
// or the output is (an encoder or pixel format FFmpeg does not have).
TEST_F(BadInput, UsageErrorsExitTwoInEveryCommand) {
    const char* store = std::getenv("KIVREL_REGISTRY");
    ASSERT_NE(store, nullptr);
    const std::string storeBefore = readFile(store);
    const std::pair<Args, const char*> cases[] = {
        {{"clip.mkv", "--display", "video,waveform", "--crop", "iw/0:ih", "-o", "x.mkv"}, "--crop iw/0:ih"},
        {{"clip.mkv", "-d", "waveform,vectorscope", "--picture-size", "64x-1", "-o", "x.mkv"},
         "--picture-size: no tile shows the picture"},
        {{"clip.mkv", "-o", "-"}, "standard output ('-') needs -f"},
        {{"clip.mkv", "-f", "image", "-o", "-"}, "the image output cannot go to standard output"},
        {{"clip.mkv", "-c:v", "nosuch", "-o", "x.mkv"},
         "-c:v: this FFmpeg has no video encoder called 'nosuch'"},
        {{"clip.mkv", "-c:v", "ffv1", "-o", "x.mp4"}, "x.mp4: the mp4 container cannot hold ffv1 video"},
        {{"clip.mkv", "-pix_fmt", "yuv420q", "-o", "x.mkv"}, "-pix_fmt: 'yuv420q' is not a pixel format"},
        {{"clip.mkv", "-o", "x.foo"}, "cannot tell a file type from the name x.foo"},
        {{"clip.mkv", "-o", "x.wav"}, "x.wav: wav is an audio-only format"},
        {{"clip.mkv", "-o", ""}, "-o: the value is empty"},
        {{"clip.mkv", "--output="}, "--output: the value is empty"},
        {{"clip.mkv", "-c:v", ""}, "-c:v: the value is empty"},
        // FFmpeg's spellings: taken whole, never as a letter and its value.
        {{"clip.mkv", "-frames:v", "0"}, "-frames:v: '0' is not a whole number from 1 up"},
        {{"clip.mkv", "-frames:a", "4"}, "-frames:a: the output has no audio"},
        {{"clip.mkv", "-c:a", "aac"}, "-c:a: the output has no audio"},
        {{"clip.mkv", "-codec:s", "srt"}, "-codec:s: the output has no subtitles"},
        {{"clip.mkv", "-c:v:1", "ffv1"}, "-c:v:1: the output has one video stream"},
        {{"clip.mkv", "-pix_fmt:x", "gray"}, "-pix_fmt:x: 'x' is not a stream specifier"},
        {{"clip.mkv", "-threads:v", "2"}, "-threads:v: -threads applies to the whole run"},
        {{"clip.mkv", "-b:v", "2M"}, "-b:v: kivrel does not take a bit rate"},
        {{"clip.mkv", "-b:a", "128k"}, "-b:a: the output has no audio"},
        {{"clip.mkv", "-r", "25"}, "-r: kivrel keeps the input's frame rate"},
        {{"clip.mkv", "-s", "640x480"}, "-s: kivrel writes each display at its own size"},
        {{"clip.mkv", "-vf", "scale=8:8"}, "-vf: kivrel runs no filter graph"},
        {{"clip.mkv", "-filter:v", "null"}, "-filter:v: kivrel runs no filter graph"},
        {{"clip.mkv", "-crf", "18"}, "-crf: kivrel sets no encoder options"},
        {{"clip.mkv", "-acodec", "aac"}, "-acodec: the output has no audio"},
        {{"clip.mkv", "-vn"}, "-vn: kivrel writes video"},
        {{"report", "clip.mkv", "-frames:a", "2"}, "-frames:a: the output has no audio"},
        {{"report", "clip.mkv", "-o", ""}, "-o: the value is empty"},
        {{"report", "clip.mkv", "--fail-on", "colour"}, "--fail-on: 'colour' is not a list of rules"},
        {{"report", "clip.mkv", "-c:v", "ffv1"}, "kivrel report writes a report, not frames"},
        {{"defaults", "--matrix", "2020"}, "--matrix: '2020' is not one of 601, 709"},
        {{"defaults", "-frames:v", "4", "--grid"}, "kivrel defaults takes settings options only"},
        {{"defaults", "-ss", "2", "--grid"}, "kivrel defaults takes settings options only"},
        {{"defaults", "-y", "--no-grid"}, "kivrel defaults takes settings options only"},
        {{"configure", "--grid"}, "kivrel configure takes no settings options"},
        {{"configure", "-threads", "2"}, "kivrel configure takes settings options only"},
    };
    for (const auto& [args, message] : cases) expectRefusal(args, kExitUsage, message);
    EXPECT_EQ(readFile(store), storeBefore);
}
