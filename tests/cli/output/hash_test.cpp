// The hash writer and --verify, through the real executable. The expected
// hashes come from the pictures themselves (the module's frame in process,
// checked against the PNG the executable writes, or the clip it was fed),
// never from the writer's own code.
#include <gtest/gtest.h>

#include <sstream>

#include "cli/support/cli_runner.h"
#include "cli/support/media.h"
#include "pluginhost/module_host.h"
#include "pluginhost/script_call.h"
#include "pluginhost/test_card.h"
#include "vocabulary.h"

extern "C" {
#include <libavutil/md5.h>
}

namespace {

constexpr int kClipFps = 10;

// MD5 of the pixels as 32-bit little-endian 0x00RRGGBB words, rows top to bottom.
std::string md5Of(const Image& img) {
    std::vector<uint8_t> bytes;
    for (uint32_t px : img.px)
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<uint8_t>((px & kPixelMask) >> shift));
    uint8_t digest[16];
    av_md5_sum(digest, bytes.data(), bytes.size());
    char hex[33];
    for (int i = 0; i < 16; ++i) std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return hex;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string hashLine(int frame, int pts, const Image& img) {
    return std::to_string(frame) + "," + std::to_string(pts) + "," + md5Of(img);
}

class Hashes : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        ASSERT_EQ(writeClip(path("clip.mkv"), clip_, kClipFps), "");
    }
    const std::vector<Image> clip_ = patternClip(19, 7, 5);  // odd sizes
};

}  // namespace

TEST_F(Hashes, EachLineIsTheMd5OfTheFramesPixelsWhateverThePitch) {
    // The test card through every display, at an odd size. The pixels come
    // from the module run in process (graticules keep an opacity byte there,
    // which no file holds and the hash leaves out); the PNG the executable
    // writes ties them to its own frame.
    constexpr int32_t kW = 13, kH = 7;
    Status error;
    const auto module = FilterModuleHost::load(KIVREL_MODULE_PATH, error);
    ASSERT_NE(module, nullptr) << error.message();
    for (int mode = 0; mode < kDisplayModeCount; ++mode) {
        const Args settings = {"--card-size", "13x7", "-d", std::string(kDisplayNames[mode]), "-y", "-q"};
        SCOPED_TRACE(testing::PrintToString(settings));
        FilterInstance inst(*module);
        ASSERT_TRUE(inst.init().ok());
        ScriptCall call;
        ConfigArgs args{};
        ASSERT_EQ(parseScriptCall(inst.scriptLine(), call), LineKind::Call);
        ASSERT_TRUE(configArgsOf(call, args).ok());
        args[kArgMode] = mode;
        ASSERT_TRUE(inst.runScriptLine(formatConfigLine(args)).ok());
        ASSERT_TRUE(inst.prepare(kW, kH, 0).ok());
        fillTestCard(inst.source().frame());
        ASSERT_TRUE(inst.start().ok());
        ASSERT_TRUE(inst.run(0).ok());
        const Image shown = imageOf(std::as_const(inst).output().frame());

        Args png = settings;
        png.insert(png.end(), {"-o", "x.png"});
        CliResult r = run(png);
        ASSERT_EQ(r.status, 0) << r.err;
        const Decoded d = decodeFile(path("x.png"));
        ASSERT_EQ(d.frames.size(), 1u) << d.error;
        EXPECT_TRUE(samePicture(d.frames[0], shown, kPixelMask));
        for (const char* pad : {"0", "5"}) {
            Args md5 = settings;
            md5.insert(md5.end(), {"-frames", "2", "-f", "md5", "-o", "-", "--pad-pitch", pad});
            r = run(md5);
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, hashLine(0, 0, shown) + "\n" + hashLine(1, 1, shown) + "\n")
                << "--pad-pitch " << pad;
            EXPECT_EQ(r.err, "");
        }
    }
    // A clip shown as it is: pts is the source frame's number.
    const CliResult r =
        run({"clip.mkv", "-d", "video", "--passthru", "-ss", "2f", "--pad-pitch", "3", "-o", "clip.md5"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("wrote clip.md5: 3 frames 19x7"), std::string::npos) << r.err;
    EXPECT_EQ(linesOf(readText("clip.md5")),
              (std::vector<std::string>{hashLine(0, 2, clip_[2]), hashLine(1, 3, clip_[3]),
                                        hashLine(2, 4, clip_[4])}));
}

TEST_F(Hashes, VerifyPassesOnItsOwnFileAndNamesTheFirstDifference) {
    const Args waveform = {"clip.mkv", "-d", "waveform", "--channels", "all"};
    Args make = waveform;
    make.insert(make.end(), {"-o", "good.md5", "-q"});
    ASSERT_EQ(run(make).status, 0);
    const std::vector<std::string> good = linesOf(readText("good.md5"));
    ASSERT_EQ(good.size(), clip_.size());

    auto verify = [&](const std::string& file, const Args& output) {
        Args args = waveform;
        args.insert(args.end(), {"--verify", file});
        args.insert(args.end(), output.begin(), output.end());
        SCOPED_TRACE(testing::PrintToString(args));
        return run(args);
    };
    CliResult r = verify("good.md5", {"--null"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("every frame matches good.md5"), std::string::npos) << r.err;
    r = verify("good.md5", {"-o", "wfm.mkv", "--pad-pitch", "2", "-q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(decodeFile(path("wfm.mkv")).frames.size(), clip_.size());

    std::vector<std::string> changed = good;
    changed[3].back() = changed[3].back() == '0' ? '1' : '0';
    std::vector<std::string> shifted = good;
    shifted[1].replace(2, 1, "7");  // "1,1,..." -> "1,7,..."
    const std::vector<std::string> shorter(good.begin(), good.end() - 1);
    std::vector<std::string> longer = good;
    longer.push_back("5,5," + std::string(32, 'a'));
    std::vector<std::string> garbled = good;
    garbled[1] = "1,1,not-a-hash";
    struct Case {
        const char* name;
        const std::vector<std::string>& lines;
        std::string message;
    };
    const Case cases[] = {
        {"changed.md5", changed,
         "--verify changed.md5: frame 3 differs: md5 " + good[3].substr(4) + ", the file has " +
             changed[3].substr(4)},
        {"shifted.md5", shifted, "--verify shifted.md5: frame 1 differs: pts 1, the file has 7"},
        {"shorter.md5", shorter, "--verify shorter.md5: frame 4 is not in the file, which lists 4 frames"},
        {"longer.md5", longer, "--verify longer.md5: the run gave 5 frames, the file lists 6"},
        {"garbled.md5", garbled, "garbled.md5:2: not a frame,pts,md5 line: '1,1,not-a-hash'"},
    };
    for (const Case& c : cases) {
        std::string text;
        for (const std::string& line : c.lines) text += line + "\n";
        writeText(c.name, text);
        for (const Args& output : {Args{"--null"}, Args{"-o", "other.mkv"}}) {
            r = verify(c.name, output);
            EXPECT_EQ(r.status, kExitFailure);
            EXPECT_EQ(r.err, "kivrel: " + c.message + "\n");
            EXPECT_FALSE(files().contains("other.mkv"));  // a failed check leaves nothing behind
        }
    }
}

// A written picture and the hash line of the same frame agree: FFmpeg's own
// program decodes the PNG to bgra and Python hashes it with the fourth byte
// cleared, apart from both our writer and our decoder.
TEST_F(Hashes, TheLineIsTheMd5OfTheWrittenPicture) {
    const Args shapes[] = {{"--card-size", "13x7"}, {"--card-size", "1x9"}, {"clip.mkv", "-ss", "3f"}};
    for (const Args& shape : shapes) {
        for (const char* display : {"waveform", "vectorscope", "histograms", "video"}) {
            Args args = shape;
            args.insert(args.end(), {"-d", display, "-frames", "1", "-y", "-q"});
            SCOPED_TRACE(testing::PrintToString(args));
            Args png = args, md5 = args;
            png.insert(png.end(), {"-o", "x.png"});
            md5.insert(md5.end(), {"-f", "md5", "-o", "-"});
            ASSERT_EQ(run(png).status, 0);
            const CliResult r = run(md5);
            ASSERT_EQ(r.status, 0) << r.err;
            const std::string hash = "python3 - " + path("x.png") + " >" + path("hash.txt") + R"( <<'EOF'
import hashlib, subprocess, sys
raw = bytearray(subprocess.run(['ffmpeg', '-v', 'error', '-i', sys.argv[1], '-f', 'rawvideo',
                                '-pix_fmt', 'bgra', '-'], check=True, capture_output=True).stdout)
raw[3::4] = bytes(len(raw) // 4)
print(hashlib.md5(raw).hexdigest())
EOF)";
            ASSERT_EQ(std::system(hash.c_str()), 0);
            const std::string first = linesOf(r.out).at(0);
            EXPECT_EQ(first.substr(first.rfind(',') + 1), linesOf(readText("hash.txt")).at(0));
        }
    }
}
