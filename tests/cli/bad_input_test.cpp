// Everything that can be wrong with what a user hands over: one clear line
// on stderr naming the problem, a non-zero exit, and nothing left behind.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "cli_runner.h"
#include "media.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

class BadInput : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        ASSERT_EQ(writeClip(path("clip.mkv"), patternClip(32, 24, 4), 10), "");
    }

    // Runs, and checks the one line, the status and that no file appeared.
    void expectRefusal(const std::vector<std::string>& args, int status, const std::string& message) {
        std::string shown;
        for (const std::string& a : args) shown += a + " ";
        SCOPED_TRACE("kivrel " + shown);
        const std::set<std::string> before = files();
        const CliResult r = run(args);
        EXPECT_EQ(r.status, status);
        ASSERT_EQ(r.errLines().size(), 1u) << r.err;
        EXPECT_EQ(r.errLines()[0].rfind("kivrel: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(files(), before);
    }

    // A copy of the clip with `bytes` of packet `index` overwritten.
    void damagePacket(const std::string& name, size_t index) {
        const std::vector<PacketSpan> spans = packetSpans(path("clip.mkv"));
        ASSERT_GT(spans.size(), index);
        std::filesystem::copy_file(path("clip.mkv"), path(name));
        std::string data = readText(name);
        const PacketSpan s = spans[index];
        for (int i = s.size / 4; i < s.size / 2; ++i) data[static_cast<size_t>(s.pos + i)] ^= 0x5A;
        writeText(name, data);
    }
};

}  // namespace

TEST_F(BadInput, UnreadableInputs) {
    writeText("notes.mkv", "these are not moving pictures\n");
    writeText("empty.png", "");
    std::filesystem::create_directory(path("folder.mkv"));
    expectRefusal({"nosuch.mkv", "-o", "x.mkv"}, kExitFailure, "nosuch.mkv: No such file or directory");
    expectRefusal({"folder.mkv", "-o", "x.mkv"}, kExitFailure, "folder.mkv: is a directory");
    expectRefusal({"notes.mkv", "-o", "x.mkv"}, kExitFailure,
                  "notes.mkv: not a picture or video format FFmpeg can read");
    expectRefusal({"empty.png", "-o", "x.png"}, kExitFailure,
                  "empty.png: not a picture or video format FFmpeg can read");
    if (::geteuid() != 0) {  // root reads every file whatever its mode
        std::filesystem::copy_file(path("clip.mkv"), path("locked.mkv"));
        ::chmod(path("locked.mkv").c_str(), 0);
        expectRefusal({"locked.mkv", "-o", "x.mkv"}, kExitFailure, "locked.mkv: Permission denied");
    }
}

TEST_F(BadInput, TruncatedClip) {
    // Cut in the middle of frame 2: Matroska ends quietly where the data
    // ends, and only the length the file states tells that two frames are missing.
    const std::vector<PacketSpan> spans = packetSpans(path("clip.mkv"));
    ASSERT_EQ(spans.size(), 4u);
    writeText("cut.mkv",
              readText("clip.mkv").substr(0, static_cast<size_t>(spans[2].pos + spans[2].size / 2)));
    expectRefusal({"cut.mkv", "-o", "x.mkv"}, kExitFailure,
                  "cut.mkv: the file stops at 0.20 s, short of the 0.40 s it states: it is cut short; "
                  "--skip-errors keeps the frames before the cut");
}

TEST_F(BadInput, DamagedFrameInTheMiddleStopsTheRunUnlessSkipped) {
    damagePacket("hurt.mkv", 2);
    expectRefusal({"hurt.mkv", "-d", "video", "-o", "x.mkv"}, kExitFailure, "hurt.mkv: frame 2 is damaged");

    const CliResult r = run({"hurt.mkv", "-d", "video", "--passthru", "-o", "x.mkv", "--skip-errors"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("3 frames 32x24"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("left out 1 damaged frame"), std::string::npos) << r.err;
    const Decoded d = decodeFile(path("x.mkv"));
    ASSERT_EQ(d.frames.size(), 3u);
    const std::vector<Image> clip = patternClip(32, 24, 4);
    EXPECT_EQ(d.frames[0].px, clip[0].px);
    EXPECT_EQ(d.frames[1].px, clip[1].px);
    EXPECT_EQ(d.frames[2].px, clip[3].px);  // frame 2 left out
}

TEST_F(BadInput, BadCommandLines) {
    // Every message is checked in process (options_test.cpp); here, that the
    // program says it in one line and exits with the usage status.
    expectRefusal({"--display", "scope"}, kExitUsage,
                  "--display: 'scope' is not one of histograms, hotpixel, video, waveform, vectorscope "
                  "(kivrel --help lists the options)");
    expectRefusal({"clip.mkv", "--frames", "0"}, kExitUsage, "--frames: '0' is not a whole number from 1 up");
    expectRefusal({"--colour"}, kExitUsage, "unknown option '--colour'");
}

TEST_F(BadInput, ModulesThatCannotBeHosted) {
    // Each refusal's message is checked in process (module_host_test.cpp).
    writeText("text.so", "not a library");
    expectRefusal({"--module", "nosuch.so", "-o", "x.png"}, kExitFailure,
                  "kivrel: module nosuch.so: No such file or directory");
    expectRefusal({"--module", "text.so", "-o", "x.png"}, kExitFailure,
                  "kivrel: cannot load module text.so: ");
    expectRefusal({"--module", std::string(KIVREL_FAKE_MODULE_DIR) + "/fake_too_new.so", "-o", "x.png"},
                  kExitFailure, "this host offers versions 4 to 8");
}

TEST_F(BadInput, FilterWritingOutsideItsFrameIsCaughtWithPaddedPitch) {
    const std::string stray = std::string(KIVREL_FAKE_MODULE_DIR) + "/fake_stray_write.so";
    expectRefusal({"clip.mkv", "--module", stray, "--pad-pitch", "1", "-o", "x.mkv"}, kExitFailure,
                  "filter Fake wrote outside its output frame at frame 0");
    // Unpadded, the stray word lands on the next row and nobody can tell.
    const CliResult r = run({"clip.mkv", "--module", stray, "-o", "x.mkv", "-q"});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(BadInput, OutputsThatCannotBeWritten) {
    std::filesystem::create_directory(path("dir.png"));
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"-o", "nowhere/x.png"}, "cannot write nowhere/x.png: No such file or directory"},
        {{"-o", "x.foo"}, "cannot tell a file type from the name x.foo"},
        {{"-o", "x.wav"}, "x.wav: the wav format cannot hold video"},
        {{"-o", "x_%d.mkv"}, "x_%d.mkv: a numbered sequence needs a picture type"},
        {{"clip.mkv", "-o", "x.png"}, "x.png holds one picture, but clip.mkv gives a clip"},
        {{"clip.mkv", "-o", "clip.mkv"}, "clip.mkv exists; use --overwrite (-y) to replace it"},
        {{"-o", "dir.png"}, "dir.png is a directory"},
    };
    for (const Case& c : cases) expectRefusal(c.args, kExitFailure, c.message);
}

TEST_F(BadInput, StartBeyondTheEnd) {
    ASSERT_EQ(writeStill(path("still.png"), patternFrame(5, 4, 0)), "");
    expectRefusal({"clip.mkv", "--start", "10", "-o", "x.mkv"}, kExitFailure,
                  "--start 10 is past the end of clip.mkv");
    expectRefusal({"clip.mkv", "--start", "2s", "-o", "x.mkv"}, kExitFailure,
                  "--start 2s is past the end of clip.mkv");
    expectRefusal({"still.png", "--start", "1", "-o", "x.png"}, kExitFailure,
                  "still.png is a still picture: --start 1 is past its only frame");
}

TEST_F(BadInput, ScriptsThatCannotBeRun) {
    // The script reader's messages are checked in process (module_host_test.cpp).
    writeText("short.vcf", "VirtualDub.video.filters.instance[0].Config(3, 0, 0, 1);\n");
    writeText("mode7.vcf", "Config(7, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)\n");
    expectRefusal({"--script", "short.vcf"}, kExitFailure,
                  "short.vcf:1: Config takes 13 integers, the line has 4");
    expectRefusal({"--script", "mode7.vcf", "-o", "x.png"}, kExitFailure,
                  "the settings select display mode 7, which the filter does not render");
}
