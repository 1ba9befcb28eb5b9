// Faults from outside: a disk that fills up, fails or turns read-only under
// every writer and the settings store (a shim preloaded into kivrel, and a
// real tmpfs), kill -9, a filter that crashes with any signal, and a stream
// whose frames change size or pixel format.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include "cli/support/cli_runner.h"
#include "cli/support/media.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

namespace fs = std::filesystem;

constexpr int kClipFps = 10;
constexpr int kClipFrames = 6;

struct Fault {
    const char* op;     // as fault_shim.c reads it
    const char* after;  // bytes or calls that still go through
    const char* error;  // errno name
    int errnoValue;
};

// The shim in every kivrel started while it lives, failing files under `where`.
class ShimmedRuns {
public:
    ShimmedRuns(const Fault& f, const std::string& where) {
        const char* asan = std::getenv("ASAN_OPTIONS");
        savedAsan_ = asan != nullptr ? std::make_unique<std::string>(asan) : nullptr;
        // A sanitizer runtime wants to come first; the shim has none of its own.
        ::setenv("ASAN_OPTIONS",
                 ((asan != nullptr ? std::string(asan) + ":" : "") + "verify_asan_link_order=0").c_str(), 1);
        ::setenv("LD_PRELOAD", KIVREL_FAULT_SHIM, 1);
        ::setenv("KIVREL_FAULT_OP", f.op, 1);
        ::setenv("KIVREL_FAULT_AFTER", f.after, 1);
        ::setenv("KIVREL_FAULT_ERRNO", f.error, 1);
        ::setenv("KIVREL_FAULT_PATH", where.c_str(), 1);
    }
    ~ShimmedRuns() {
        for (const char* v : {"LD_PRELOAD", "KIVREL_FAULT_OP", "KIVREL_FAULT_AFTER", "KIVREL_FAULT_ERRNO",
                              "KIVREL_FAULT_PATH"})
            ::unsetenv(v);
        if (savedAsan_)
            ::setenv("ASAN_OPTIONS", savedAsan_->c_str(), 1);
        else
            ::unsetenv("ASAN_OPTIONS");
    }

private:
    std::unique_ptr<std::string> savedAsan_;
};

bool hasTemp(const std::set<std::string>& names) {
    for (const std::string& n : names)
        if (n.find(".kivrel-") != std::string::npos) return true;
    return false;
}

class Faults : public CliTest {
protected:
    void SetUp() override {
        CliTest::SetUp();
        store_ = std::getenv("KIVREL_REGISTRY");
        ASSERT_EQ(writeClip(path("clip.mkv"), patternClip(16, 8, kClipFrames), kClipFps), "");
    }
    void TearDown() override {
        ::setenv("KIVREL_REGISTRY", store_.c_str(), 1);  // the suite's private store again
        CliTest::TearDown();
    }
    std::string store_;
    // Every file in the folder, with its size and a hash of its bytes.
    std::map<std::string, std::string> contents() const {
        std::map<std::string, std::string> all;
        for (const std::string& name : files()) {
            const std::string bytes = readText(name);
            all[name] = std::to_string(bytes.size()) + " bytes, hash " +
                        std::to_string(std::hash<std::string>{}(bytes));
        }
        return all;
    }
};

// What each writer is asked, and the file it would replace ("" for the pipe).
struct Target {
    const char* kind;
    Args args;
    const char* old;
};
const Target kTargets[] = {
    {"png still", {"-d", "waveform", "--card-size", "48x32", "-o", "out.png", "-y"}, "out.png"},
    // Past the pictures a rename fault lets through: those are taken back.
    {"image sequence", {"clip.mkv", "-d", "video", "--passthru", "-o", "f_%d.png", "-y"}, "f_5.png"},
    {"mkv FFV1", {"clip.mkv", "-d", "video", "--passthru", "-o", "out.mkv", "-y"}, "out.mkv"},
    {"stdout pipe", {"clip.mkv", "-d", "video", "--passthru", "-f", "nut", "-o", "-"}, ""},
    {"settings store", {"defaults", "-d", "waveform"}, "registry.reg"},
};

}  // namespace

// Each writer and the store keep the old file byte for byte (or have none)
// and leave no temporary file, whichever call fails and how; the one line
// on stderr says why.
TEST_F(Faults, DiskFaultsLeaveTheOldFileOrNone) {
    const Fault faults[] = {
        {"write", "0", "ENOSPC", ENOSPC}, {"write", "100", "ENOSPC", ENOSPC},
        {"write", "100", "EIO", EIO},     {"fsync", "0", "EIO", EIO},
        {"rename", "0", "EIO", EIO},      {"rename", "2", "ENOSPC", ENOSPC},
        {"create", "0", "EROFS", EROFS},
    };
    ::setenv("KIVREL_REGISTRY", path("registry.reg").c_str(), 1);
    for (const Target& t : kTargets) {
        for (const Fault& f : faults) {
            SCOPED_TRACE(std::string(t.kind) + ": " + f.op + " fails with " + f.error + " after " + f.after);
            if (t.old == std::string("registry.reg"))
                ASSERT_EQ(run({"defaults", "-d", "hotpixel"}).status, 0);  // as a save that worked left it
            else if (*t.old != '\0')
                writeText(t.old, "old");
            const auto before = contents();
            const bool piped = *t.old == '\0';
            CliResult r;
            {
                const ShimmedRuns shim(f, piped ? "pipe:[" : dir_ + "/");
                Child c = spawnKivrel(t.args, dir_, piped);
                if (piped) c.drain();
                r.status = c.wait();
                r.err = c.takeErr();
            }
            // A pipe is never flushed nor renamed; one rename is the most all
            // but the sequence (and the store's values) make.
            const bool skipped = (piped && std::string(f.op) != "write") ||
                                 (std::string(f.after) == "2" && std::string(t.kind) != "image sequence");
            if (skipped) {
                EXPECT_EQ(r.status, 0) << r.err;
            } else {
                EXPECT_EQ(r.status, 1);
                ASSERT_TRUE(r.oneLine()) << r.err;
                const bool named = r.err.find(std::strerror(f.errnoValue)) != std::string::npos ||
                                   r.err.find("could not save the defaults") != std::string::npos;
                EXPECT_TRUE(named) << r.err;
                EXPECT_EQ(contents(), before);
            }
            EXPECT_FALSE(hasTemp(files()));
            for (const std::string& name : files())
                if (name != "clip.mkv" && name != "registry.reg") fs::remove(path(name));
        }
    }
}

// --keep-partial when the disk fills up part way through an image
// sequence: the message names the pictures really kept, as the folder holds
// them, not the one the failure cut off.
TEST_F(Faults, KeepPartialAfterAFullDiskNamesTheFilesKept) {
    CliResult r;
    {
        const ShimmedRuns shim({"write", "1500", "ENOSPC", ENOSPC}, dir_ + "/");
        r = run({"clip.mkv", "-d", "video", "--passthru", "-o", "f_%d.png", "--keep-partial"});
    }
    EXPECT_EQ(r.status, 1);
    ASSERT_TRUE(r.oneLine()) << r.err;
    EXPECT_NE(r.err.find(std::strerror(ENOSPC)), std::string::npos) << r.err;
    int kept = 0;
    for (const std::string& name : files())
        if (name.starts_with("f_")) ++kept;
    ASSERT_GT(kept, 1);
    ASSERT_LT(kept, kClipFrames);
    for (int k = 1; k <= kept; ++k)
        EXPECT_EQ(decodeFile(path("f_" + std::to_string(k) + ".png")).error, "") << k;
    EXPECT_NE(r.err.find("; kept " + std::to_string(kept) + " finished frames in f_1.png ... f_" +
                         std::to_string(kept) + ".png\n"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(hasTemp(files()));
}

// A real small file system: full, then read-only. Needs the right to mount
// (root here); skipped elsewhere.
TEST_F(Faults, ATinyTmpfsFillsUpThenTurnsReadOnly) {
    const std::string disk = path("disk");
    fs::create_directory(disk);
    // A mount namespace of this test program's own, so nothing shows outside.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{disk};
    writeText("disk/out.mkv", "old");
    ::setenv("KIVREL_REGISTRY", (disk + "/registry.reg").c_str(), 1);
    ASSERT_EQ(run({"defaults", "-d", "hotpixel"}).status, 0);
    const std::string store = readText("disk/registry.reg");
    // The rest of the room taken, to the last byte.
    {
        const int fd = ::open((disk + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(4096, 'x');
        for (size_t n = block.size(); n > 0;) n = ::write(fd, block.data(), n) > 0 ? n : n / 2;
        ::close(fd);
    }
    const Args video = {"-d", "waveform", "--card-size",  "48x32", "-frames",
                        "50", "-o",       "disk/out.mkv", "-y"};
    for (const bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "read-only" : "full");
        if (readOnly) {
            ASSERT_EQ(::mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        }
        const std::string why = std::strerror(readOnly ? EROFS : ENOSPC);
        CliResult r = run(video);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
        r = run({"defaults", "-d", "waveform"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("could not save the defaults"), std::string::npos) << r.err;
        EXPECT_EQ(readText("disk/out.mkv"), "old");
        EXPECT_EQ(readText("disk/registry.reg"), store);
        std::set<std::string> left;
        for (const auto& e : fs::directory_iterator(disk)) left.insert(e.path().filename().string());
        EXPECT_EQ(left, (std::set<std::string>{"filler", "out.mkv", "registry.reg"}));
    }
}

// kill -9 cannot be caught: the target stays as it was, and the next run
// into the folder removes the temporary file of the dead run, but not one
// whose process lives.
TEST_F(Faults, KillNineLeavesTheTargetAndTheNextRunSweepsUp) {
    writeText("out.mkv", "old");
    const std::string live = ".other.png.kivrel-" + std::to_string(::getpid()) + "-7";
    writeText(live, "a live run's");
    Child c = spawnKivrel(
        {"-d", "video", "--passthru", "--card-size", "48x32", "-frames", "1000000", "-o", "out.mkv", "-y"},
        dir_, false);
    std::string stale;
    for (int i = 0; i < 500 && stale.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        for (const std::string& n : files())
            if (n.rfind(".out.mkv.kivrel-", 0) == 0) stale = n;
    }
    ASSERT_FALSE(stale.empty());
    // Some frames in it: written once, then again, past what the first
    // write (the container's header, or a first buffer of frames) held.
    std::error_code ec;
    uintmax_t first = 0;
    for (int i = 0; i < 500; ++i) {
        const uintmax_t size = fs::file_size(path(stale), ec);
        if (ec) break;
        if (first == 0) first = size;
        if (first != 0 && size > first) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_FALSE(ec) << ec.message();
    ASSERT_GT(fs::file_size(path(stale)), first) << "the run never wrote past its first write";
    ::kill(c.pid, SIGKILL);
    EXPECT_EQ(c.wait(), 128 + SIGKILL);
    c.takeErr();
    EXPECT_EQ(readText("out.mkv"), "old");
    EXPECT_EQ(files(), (std::set<std::string>{"clip.mkv", "out.mkv", live, stale}));

    const CliResult r = run(
        {"-d", "video", "--passthru", "--card-size", "48x32", "-frames", "3", "-o", "out.mkv", "-y", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(files(), (std::set<std::string>{"clip.mkv", "out.mkv", live}));
    EXPECT_EQ(decodeFile(path("out.mkv")).frames.size(), 3u);

    // A save of the store killed half way leaves its temporary file, which
    // no read ever takes for the store, and the next save removes; a live
    // process's stays.
    ::setenv("KIVREL_REGISTRY", path("registry.reg").c_str(), 1);
    const std::string liveSave = ".kivrel-" + std::to_string(::getpid()) + "-0.tmp";
    writeText(liveSave, "a live save's");
    writeText(
        ".kivrel-" + std::to_string(c.pid) + "-0.tmp",
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\VirtualDub\\Kivrel]\r\n"
        "\"mode\"=\"4\"\r\n");
    for (const auto& [args, line] : {std::pair{Args{"defaults"}, "Config(0, "},  // histograms, as new
                                     std::pair{Args{"defaults", "-d", "waveform"}, "Config(3, "}}) {
        SCOPED_TRACE(testing::PrintToString(args));
        const CliResult r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(line), std::string::npos) << r.out;
    }
    EXPECT_EQ(files(), (std::set<std::string>{"clip.mkv", "out.mkv", live, liveSave, "registry.reg"}));
}

// Whatever signal a crash in the filter raises, the host's handler removes
// the temporary file, names the callback and frame, and dies of it.
TEST_F(Faults, EveryCrashSignalInTheFilterLeavesNothing) {
    for (const int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
        SCOPED_TRACE(sigabbrev_np(sig));
        ::setenv("FAKE_CRASH_SIGNAL", std::to_string(sig).c_str(), 1);
        const CliResult r =
            run({"clip.mkv", "-o", "out.mkv", "--module", KIVREL_FAKE_MODULE_DIR "/fake_crash.so", "-q"});
        ::unsetenv("FAKE_CRASH_SIGNAL");
        EXPECT_EQ(r.status, 128 + sig);
        EXPECT_EQ(r.err.rfind("kivrel: SIG" + std::string(sigabbrev_np(sig)) + " (", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(") in the filter's runProc at frame 2; temporary files removed\n"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(files(), (std::set<std::string>{"clip.mkv"}));
    }
}

namespace {

constexpr int kLowV = 96, kHighV = 160;

struct Part {
    int w, h;
    AVPixelFormat format;
    int frames;
};

// Parts one after another in one stream, as a broadcast recording changes
// format: every frame a key frame with the header that states its format.
// MPEG-2 in a transport stream states the size (.ts); Motion JPEG, the
// pixel format (.nut). "" or the problem.
std::string writeChangingClip(const std::string& file, const std::vector<Part>& parts) {
    const bool mpeg2 = file.ends_with(".ts");
    AVFormatContext* oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, nullptr, file.c_str()) < 0)
        return "no muxer for " + file;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> owner(oc, [](AVFormatContext* o) {
        avio_closep(&o->pb);
        avformat_free_context(o);
    });
    const AVCodec* codec = avcodec_find_encoder(mpeg2 ? AV_CODEC_ID_MPEG2VIDEO : AV_CODEC_ID_MJPEG);
    if (codec == nullptr) return "no encoder for " + file;
    AVStream* st = avformat_new_stream(oc, nullptr);
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int64_t pts = 0;
    std::string problem;
    for (size_t p = 0; p < parts.size() && problem.empty(); ++p) {
        const Part& part = parts[p];
        AVCodecContext* c = avcodec_alloc_context3(codec);
        c->width = part.w;
        c->height = part.h;
        c->pix_fmt = part.format;
        c->time_base = {1, kClipFps};
        c->framerate = {kClipFps, 1};
        c->gop_size = 1;  // intra only
        c->max_b_frames = 0;
        // Each picture out at once: a decoder holding one back drops it when the size changes.
        c->flags |= (mpeg2 ? AV_CODEC_FLAG_LOW_DELAY : 0) | AV_CODEC_FLAG_QSCALE;
        c->global_quality = FF_QP2LAMBDA;
        if (avcodec_open2(c, codec, nullptr) < 0) problem = "cannot open the encoder";
        if (p == 0 && problem.empty()) {
            avcodec_parameters_from_context(st->codecpar, c);
            st->time_base = c->time_base;
            if (avio_open(&oc->pb, file.c_str(), AVIO_FLAG_WRITE) < 0 ||
                avformat_write_header(oc, nullptr) < 0)
                problem = "cannot start " + file;
        }
        for (int k = 0; k <= part.frames && problem.empty(); ++k) {
            const bool flush = k == part.frames;
            if (!flush) {
                av_frame_unref(frame);
                frame->width = part.w;
                frame->height = part.h;
                frame->format = part.format;
                if (av_frame_get_buffer(frame, 0) < 0) problem = "no memory";
                for (int plane = 0; plane < 3 && problem.empty(); ++plane) {
                    const bool halved = plane > 0 && (part.format == AV_PIX_FMT_YUV420P ||
                                                      part.format == AV_PIX_FMT_YUVJ420P);
                    const int rows = halved ? part.h / 2 : part.h;
                    // Grey, a shade lighter in each part; from the second part on, V
                    // lower in the left half than in the right, so that a plane
                    // read with the wrong subsampling shows.
                    const int value = plane == 0 ? 64 + 8 * static_cast<int>(p) : 128;
                    for (int y = 0; y < rows; ++y) {
                        uint8_t* row = frame->data[plane] + y * frame->linesize[plane];
                        std::memset(row, value, static_cast<size_t>(frame->linesize[plane]));
                        if (plane == 2 && p > 0) {
                            const int half = (halved ? part.w / 2 : part.w) / 2;
                            std::memset(row, kLowV, static_cast<size_t>(half));
                            std::memset(row + half, kHighV, static_cast<size_t>(half));
                        }
                    }
                }
                frame->pts = pts++;
            }
            avcodec_send_frame(c, flush ? nullptr : frame);
            while (problem.empty() && avcodec_receive_packet(c, pkt) == 0) {
                av_packet_rescale_ts(pkt, c->time_base, st->time_base);
                pkt->stream_index = 0;
                if (av_interleaved_write_frame(oc, pkt) < 0) problem = "cannot write a packet";
            }
        }
        avcodec_free_context(&c);
    }
    if (problem.empty() && av_write_trailer(oc) < 0) problem = "cannot finish " + file;
    av_frame_free(&frame);
    av_packet_free(&pkt);
    return problem;
}

}  // namespace

// The filter's geometry is set once, before the output is opened: a frame
// of another size ends the run with one clear line (and the frames before
// are kept on request). Another pixel format is only another conversion to
// RGB, so it goes through.
TEST_F(Faults, MidStreamChangesOfSizeStopAndOfPixelFormatGoThrough) {
    ASSERT_EQ(writeChangingClip(path("sizes.ts"),
                                {{32, 24, AV_PIX_FMT_YUV420P, 3}, {48, 32, AV_PIX_FMT_YUV420P, 3}}),
              "");
    ASSERT_EQ(writeChangingClip(path("formats.nut"),
                                {{32, 24, AV_PIX_FMT_YUVJ420P, 3}, {32, 24, AV_PIX_FMT_YUVJ444P, 3}}),
              "");
    const Args passthru = {"-d", "video", "--passthru", "-o", "out.mkv"};
    Args args = {"sizes.ts"};
    args.insert(args.end(), passthru.begin(), passthru.end());
    const auto before = files();
    CliResult r = run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(
        r.err,
        "kivrel: sizes.ts: the frame size changes from 32x24 to 48x32 at frame 3; kivrel needs one size "
        "throughout\n");
    EXPECT_EQ(files(), before);
    args.push_back("--keep-partial");
    r = run(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("; kept 3 finished frames in out.mkv"), std::string::npos) << r.err;
    EXPECT_EQ(decodeFile(path("out.mkv")).frames.size(), 3u);
    fs::remove(path("out.mkv"));

    args = {"formats.nut", "-q"};
    args.insert(args.end(), passthru.begin(), passthru.end());
    r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const Decoded d = decodeFile(path("out.mkv"));
    ASSERT_EQ(d.frames.size(), 6u);
    for (size_t k = 0; k < d.frames.size(); ++k) {
        SCOPED_TRACE("frame " + std::to_string(k));
        EXPECT_EQ(d.frames[k].w, 32);
        if (k < 3) {
            EXPECT_EQ(d.frames[k].at(5, 5), 0x404040u);  // grey 64
            continue;
        }
        // Luma 72, red = Y + 1.402 (V - 128), BT.601 full range as JPEG is.
        for (const auto& [x, v] : {std::pair{2, kLowV}, std::pair{30, kHighV}})
            EXPECT_NEAR(static_cast<double>(d.frames[k].at(x, 5) >> 16), 72 + 1.402 * (v - 128), 3.0) << x;
    }
}
