// The output sweep: what kivrel writes in each of FFmpeg's video containers,
// in picture files, sequences and image pipes, to standard output and under
// the longest names, read back with FFmpeg's libraries and with ffprobe;
// what it refuses and leaves alone; and the pictures it reads one after
// another from a pipe. One file, as the sweep's tables (what each muxer is
// refused for, what cannot be read back) serve all of its tests.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <string_view>
#include <utility>

#include "cli/support/cli_runner.h"
#include "cli/support/media.h"
#include "vocabulary.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

namespace {

// Muxers that write no plain file of their own, left out of the round trip.
struct Skip {
    std::string_view muxer;
    const char* why;
};
constexpr Skip kNotPlainFiles[] = {
    {"rtp", "sends packets to a network address"},
    {"rtp_mpegts", "sends packets to a network address"},
    {"image2", "one file per frame: the picture writers' (PicturesAndPipesAreOfTheirNamesType)"},
    {"film_cpk", "reopens its output by name to shift data"},
    {"uncodedframecrc", "takes uncoded frames, which no encoder gives"},
    {"null", "writes nothing"},
    {"mkvtimestamp_v2", "writes timestamps, not pictures"},
    {"framecrc", "writes checksums, not pictures"},
    {"framehash", "writes checksums, not pictures"},
    {"framemd5", "writes checksums, not pictures"},
    {"crc", "writes checksums, not pictures"},
    {"hash", "writes checksums, not pictures"},
    {"md5", "writes checksums, not pictures"},
    {"streamhash", "writes checksums, not pictures"},
};

// What a 352x288 card at 25 fps cannot be written as, and the reason kivrel gives.
struct Refusal {
    std::string_view muxer;
    const char* reason;
};
constexpr Refusal kRefusals[] = {
    {"aiff", "aiff is an audio-only format"},  // their pictures are cover art
    {"flac", "flac is an audio-only format"},
    {"mp3", "mp3 is an audio-only format"},
    {"amv", "needs an audio stream"},
    {"psp", "needs an audio stream"},
    {"3g2", "h263 subsamples colour"},
    {"3gp", "h263 subsamples colour"},
    {"h261", "h261 subsamples colour"},
    {"h263", "h263 subsamples colour"},
    {"avm2", "flv subsamples colour"},
    {"flv", "flv subsamples colour"},
    {"swf", "flv subsamples colour"},
    {"ivf", "libvpx subsamples colour"},
    {"m4v", "mpeg4 subsamples colour"},
    {"rm", "rv10 subsamples colour"},
    {"mpeg1video", "mpeg1video subsamples colour"},
    {"vcd", "mpeg1video subsamples colour"},
    {"dv", "Frame size: 720x576"},
    {"gxf", "only accepts PAL or NTSC"},
    {"ico", "cannot exceed 256x256"},
    {"mxf_d10", "only support 30/40/50 mbit/s"},
    {"filmstrip", "only AV_PIX_FMT_RGBA"},
    {"avs2", "no encoder for avs2"},
    {"avs3", "no encoder for avs3"},
    {"cavsvideo", "no encoder for cavs"},
    {"vc1", "no encoder for vc1"},
    {"vc1test", "no encoder for wmv3"},
    // Muxers that open files of their own (segments, manifests) or network
    // addresses: refused up front, as a usage error.
    {"dash", "dash writes files of its own"},
    {"hds", "hds writes files of its own"},
    {"hls", "hls writes files of its own"},
    {"smoothstreaming", "smoothstreaming writes files of its own"},
    {"rtsp", "rtsp writes files of its own"},
    {"sap", "sap writes files of its own"},
};
constexpr std::string_view kWritesItsOwnFiles = "writes files of its own";

// Written, but FFmpeg 5.1 has no demuxer to read them back.
constexpr Skip kWriteOnly[] = {
    {"a64", "a Commodore 64 multicolour stream, with no demuxer"},
    {"rawvideo", "no header: the reader must be told its size"},
    {"webp", "animated WebP, which FFmpeg 5.1 writes but cannot decode"},
    {"asf_stream", "no header to tell its format by; read as a stream it is asf's"},
};

// Muxers whose streams keep no colour tags or field order (raw streams, RGB
// pictures, JPEG, DNxHD and Dirac's own headers; Theora's names only the
// primaries of two analogue TV systems, not BT.601's, and no field order):
// read back as untagged.
constexpr std::string_view kUntagged[] = {
    "a64",   "apng",       "gif",    "fits",       "rawvideo", "webp", "avif",         "dirac", "dnxhd",
    "mjpeg", "image2pipe", "mpjpeg", "mxf_opatom", "smjpeg",   "roq",  "yuv4mpegpipe", "ogg",   "ogv"};
// Muxers that state no frame rate: read back at a guessed one. Ogg's Theora
// header states it, but FFmpeg 5.1 reads it back as the stream's clock only.
constexpr std::string_view kNoRate[] = {"asf", "mpjpeg", "fits", "smjpeg", "ogg", "ogv"};

bool listed(const auto& list, std::string_view name) {
    return std::find(std::begin(list), std::end(list), name) != std::end(list);
}

template <typename Row, size_t N>
const Row* rowOf(const Row (&table)[N], std::string_view muxer) {
    for (const Row& r : table)
        if (r.muxer == muxer) return &r;
    return nullptr;
}

struct StreamFacts {
    int w = 0, h = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
    AVFieldOrder fields = AV_FIELD_UNKNOWN;
    double fps = 0.0;
    int packets = 0;  // of the video stream: one a frame
    std::string error;
};

StreamFacts factsOf(const std::string& path) {
    StreamFacts f;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) {
        f.error = "cannot open";
        return f;
    }
    avformat_find_stream_info(fmt, nullptr);
    const int s = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (s < 0) {
        f.error = "no video stream";
    } else {
        const AVCodecParameters* p = fmt->streams[s]->codecpar;
        f = {p->width,
             p->height,
             static_cast<AVPixelFormat>(p->format),
             p->color_space,
             p->field_order,
             av_q2d(fmt->streams[s]->avg_frame_rate),
             0,
             ""};
        AVPacket* packet = av_packet_alloc();
        while (av_read_frame(fmt, packet) >= 0) {
            f.packets += packet->stream_index == s ? 1 : 0;
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
    }
    avformat_close_input(&fmt);
    return f;
}

class Outputs : public CliTest {};

// The codec an output holds with no -c:v, as README's table has it: the
// rows named there, else FFV1 wherever the container takes it, else the
// container's own.
std::string expectedCodec(const AVOutputFormat* m) {
    constexpr std::pair<std::string_view, const char*> kNamed[] = {
        {"mpeg", "mpeg2video"},   {"vob", "mpeg2video"},        {"dvd", "mpeg2video"},
        {"mpegts", "mpeg2video"}, {"mxf", "mpeg2video"},        {"wtv", "mpeg2video"},
        {"webp", "webp"},         {"yuv4mpegpipe", "rawvideo"},  // y4m holds raw pictures
    };
    for (const auto& [muxer, codec] : kNamed)
        if (muxer == m->name) return codec;
    if (avformat_query_codec(m, AV_CODEC_ID_FFV1, FF_COMPLIANCE_NORMAL) == 1) return "ffv1";
    return avcodec_get_name(m->video_codec);
}

constexpr int kSweepW = 352, kSweepH = 288, kSweepFrames = 3, kSweepFps = 25;
constexpr std::string_view kOld = "old";  // what a file to be replaced holds

}  // namespace

// For every muxer with video: over an existing file, no -y and -n refuse
// and change nothing; -y replaces it with the clip, whole (ffprobe reads
// the codec the container stands for and every frame), or the run says
// why not and leaves the old file alone, with no temporary or empty file
// beside it. Standard output either gets every frame or the run fails.
TEST_F(Outputs, EveryMuxerReplacesOnlyWithYAndWritesWholeOrNothing) {
    ASSERT_EQ(writeClip(path("in.mkv"), patternClip(kSweepW, kSweepH, kSweepFrames), kSweepFps), "");
    std::vector<const AVOutputFormat*> muxers;
    void* opaque = nullptr;
    for (const AVOutputFormat* m = av_muxer_iterate(&opaque); m != nullptr; m = av_muxer_iterate(&opaque)) {
        if (m->video_codec == AV_CODEC_ID_NONE || rowOf(kNotPlainFiles, m->name) != nullptr) continue;
        // Output devices are listed once a test here has loaded them for an input; they write no file.
        if (m->priv_class != nullptr && AV_IS_OUTPUT_DEVICE(m->priv_class->category)) continue;
        muxers.push_back(m);
    }
    auto outOf = [](const AVOutputFormat* m) { return "out_" + std::string(m->name); };
    // One stage's runs, every muxer's at once: `how` is "" (the file each has
    // waiting, neither -y nor -n), "-n", "-y", or "-" for standard output.
    auto stage = [&](const std::string& how) {
        std::vector<Args> runs;
        for (const AVOutputFormat* m : muxers) {
            Args args = {"in.mkv", "-d", "video", "-frames", std::to_string(kSweepFrames),
                         "-q",     "-f", m->name};
            args.insert(args.end(), {"-o", how == "-" ? "-" : outOf(m)});
            if (how == "-n" || how == "-y") args.push_back(how);
            runs.push_back(args);
        }
        return runAll(runs, how == "-");
    };
    for (const AVOutputFormat* m : muxers) writeText(outOf(m), std::string(kOld));
    const std::set<std::string> before = files();
    for (const std::string keep : {"", "-n"}) {
        const std::vector<CliResult> kept = stage(keep);
        for (size_t k = 0; k < muxers.size(); ++k) {
            SCOPED_TRACE(std::string(muxers[k]->name) + (keep.empty() ? " without -y" : " with -n"));
            EXPECT_NE(kept[k].status, 0);
            EXPECT_TRUE(kept[k].oneLine()) << kept[k].err;
            EXPECT_EQ(readText(outOf(muxers[k])), kOld);
        }
        EXPECT_EQ(files(), before);
    }
    const std::vector<CliResult> replaced = stage("-y");
    const std::vector<CliResult> piped = stage("-");
    EXPECT_EQ(files(), before);  // each output under its own name, nothing beside them
    std::vector<std::string> toProbe;
    std::map<std::string, const AVOutputFormat*> muxerOf;
    int written = 0;
    for (size_t k = 0; k < muxers.size(); ++k) {
        const AVOutputFormat* m = muxers[k];
        const std::string name = m->name, out = outOf(m);
        const CliResult& r = replaced[k];
        SCOPED_TRACE(name);
        if (const Refusal* refused = rowOf(kRefusals, name)) {
            EXPECT_NE(r.status, 0);
            if (std::string_view(refused->reason).find(kWritesItsOwnFiles) != std::string_view::npos) {
                EXPECT_EQ(r.status, kExitUsage);
            }
            EXPECT_NE(r.err.find(refused->reason), std::string::npos) << r.err;
            EXPECT_TRUE(r.oneLine()) << r.err;
            EXPECT_EQ(readText(out), kOld);
            // Nor does standard output get anything of it.
            EXPECT_NE(piped[k].status, 0);
            EXPECT_EQ(piped[k].out, "");
            continue;
        }
        ASSERT_EQ(r.status, 0) << r.err;
        ++written;
        // Standard output: every frame, or a failure that says why.
        if (piped[k].status != 0) {
            EXPECT_NE(piped[k].status, 0);
            EXPECT_TRUE(piped[k].oneLine()) << piped[k].err;
        }
        if (rowOf(kWriteOnly, name) != nullptr) continue;
        toProbe.push_back(out);
        muxerOf[out] = m;
        if (piped[k].status == 0) {
            writeText("pipe_" + name, piped[k].out);
            toProbe.push_back("pipe_" + name);
            muxerOf["pipe_" + name] = m;
        }
        const StreamFacts facts = factsOf(path(out));
        EXPECT_EQ(facts.error, "");
        if (!facts.error.empty()) continue;
        EXPECT_EQ(facts.w, kSweepW);
        EXPECT_EQ(facts.h, kSweepH);
        // Colour whole, or halved across only where the encoder has nothing finer.
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(facts.format);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->log2_chroma_h, 0) << d->name;
        EXPECT_LE(d->log2_chroma_w, 1) << d->name;
        const bool yuv = (d->flags & AV_PIX_FMT_FLAG_RGB) == 0 && d->nb_components >= 3;
        if (yuv && !listed(kUntagged, name)) {
            // 288 rows: BT.601's matrix, which both tags name.
            EXPECT_TRUE(facts.matrix == AVCOL_SPC_SMPTE170M || facts.matrix == AVCOL_SPC_BT470BG)
                << facts.matrix;
            EXPECT_EQ(facts.fields, AV_FIELD_PROGRESSIVE);
        }
        const Decoded back = decodeFile(path(out));
        if (!listed(kNoRate, name)) {
            EXPECT_EQ(back.fpsNum * 1.0 / back.fpsDen, kSweepFps);
        }
        EXPECT_TRUE(back.sarNum == 0 || back.sarNum == back.sarDen) << back.sarNum << ":" << back.sarDen;
    }
    EXPECT_GT(written, 0);
    // An independent reader's word on each: the codec and every frame.
    const std::map<std::string, Probed> probed = probeFiles(dir_, toProbe);
    for (const std::string& f : toProbe) {
        SCOPED_TRACE(f);
        ASSERT_TRUE(probed.contains(f));
        EXPECT_EQ(probed.at(f).codec, expectedCodec(muxerOf[f]));
        EXPECT_EQ(probed.at(f).frames, kSweepFrames);
    }
}

TEST_F(Outputs, AudioSubtitleAndDataFormatsAreRefusedByName) {
    const struct {
        Args args;
        std::string message;
    } cases[] = {
        {{"-f", "wav", "-o", "-"}, "-f: wav is an audio-only format"},
        {{"-o", "x.mp3"}, "x.mp3: mp3 is an audio-only format"},
        {{"-o", "x.flac"}, "x.flac: flac is an audio-only format"},
        {{"-o", "x.srt"}, "x.srt: srt is a subtitle format"},
        {{"-f", "ffmetadata", "-o", "-"}, "-f: ffmetadata is a data format"},
    };
    for (const auto& c : cases) {
        Args args = {"--card-size", "16x8", "-frames", "2"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(testing::PrintToString(args));
        const CliResult r = run(args);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(files(), std::set<std::string>{});
    }
}

// The named fixes: JPEG's range, MPEG-2's rate grid in a transport stream,
// one-pixel FFV1 and DNxHD, each read back with the source's size, frames and rate.
TEST_F(Outputs, NamedContainersKeepSizeFramesAndRate) {
    constexpr int kClipFps = 10, kCardFps = 25, kFrames = 4;
    struct Case {
        int w, h;
        const char* out;
        Args extra;
    };
    const Case cases[] = {
        {32, 16, "x.jpg", {"-frames", "1"}},
        {24, 16, "x.ts", {}},
        {24, 16, "x.m2ts", {}},
        {24, 16, "x.mpg", {}},
        {1, 9, "x.mkv", {}},
        {9, 1, "y.mkv", {}},
        {256, 120, "x.mov", {"-c:v", "dnxhd"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.out);
        // A clip at 10 fps in Matroska's millisecond clock; the card for the
        // sizes FFV1's own slicing cannot make.
        const bool card = c.w < 2 || c.h < 2;
        Args args;
        if (card) {
            args = {"--card-size", std::to_string(c.w) + "x" + std::to_string(c.h), "-frames",
                    std::to_string(kFrames)};
        } else {
            ASSERT_EQ(writeClip(path("in.mkv"), patternClip(c.w, c.h, kFrames), kClipFps), "");
            args = {"in.mkv"};
        }
        args.insert(args.end(), {"-d", "video", "--passthru", "-o", c.out, "-y", "-q"});
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const CliResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const StreamFacts facts = factsOf(path(c.out));
        EXPECT_EQ(facts.w, c.w);
        EXPECT_EQ(facts.h, c.h);
        if (c.extra.empty() || c.extra[0] != "-frames") {
            EXPECT_EQ(facts.packets, kFrames);
            EXPECT_EQ(facts.fps, card ? kCardFps : kClipFps);
        }
    }
    // DNxHR's smallest picture, refused with FFmpeg's reason rather than a thread error.
    ASSERT_EQ(writeClip(path("small.mkv"), patternClip(32, 16, 2), kClipFps), "");
    const CliResult r = run({"small.mkv", "-d", "video", "-c:v", "dnxhd", "-o", "small.mov"});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_NE(r.err.find("at least 256x120"), std::string::npos) << r.err;
}

// Pictures one after another on standard input, or in one file, are each a frame.
TEST_F(Outputs, PicturesOneAfterAnotherAreEveryFrame) {
    constexpr int kW = 7, kH = 5;
    for (const int count : {1, 2, 3}) {
        SCOPED_TRACE(std::to_string(count) + " pictures");
        const std::vector<Image> clip = patternClip(kW, kH, count);
        std::string joined;
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(writePng(path("p.png"), clip[i]));
            joined += readText("p.png");
        }
        writeText("joined.png", joined);
        for (const bool onStdin : {true, false}) {
            const Args args = {
                onStdin ? "-" : "joined.png", "-d", "video", "--passthru", "-o", "out.mkv", "-y", "-q"};
            const CliResult r = runKivrel(args, dir_, false, onStdin ? path("joined.png") : "");
            ASSERT_EQ(r.status, 0) << r.err;
            const Decoded back = decodeFile(path("out.mkv"));
            ASSERT_EQ(back.frames.size(), static_cast<size_t>(count)) << back.error;
            for (int i = 0; i < count; ++i)
                EXPECT_TRUE(samePicture(back.frames[i], clip[i])) << "frame " << i;
        }
    }
}

// Picture files, sequences and pictures one after another in one file are
// of the type their name or -c:v gives, with every frame asked for; each
// output refuses to replace without -y, and with -n, and replaces with -y.
TEST_F(Outputs, PicturesAndPipesAreOfTheirNamesType) {
    constexpr int kFrames = 3;
    ASSERT_EQ(writeClip(path("in.mkv"), patternClip(32, 16, kFrames), kSweepFps), "");
    struct Case {
        Args out;
        std::vector<std::string> files;  // the last is there before, to be replaced
        const char* codec;               // as ffprobe names it
        int frames;                      // in each file
    };
    std::vector<Case> cases = {
        {{"-o", "p.png", "-frames", "1"}, {"p.png"}, "png", 1},
        {{"-o", "w.webp", "-frames", "1"}, {"w.webp"}, "webp", 1},
        {{"-f", "image2pipe", "-o", "pipe.png"}, {"pipe.png"}, "png", kFrames},
        {{"-f", "image2pipe", "-o", "pipe.jpg"}, {"pipe.jpg"}, "mjpeg", kFrames},
        {{"-o", "c.mkv", "-c:v", "mjpeg"}, {"c.mkv"}, "mjpeg", kFrames},
        {{"-o", "s_%04d.png", "-start_number", "7"}, {"s_0007.png", "s_0009.png"}, "png", 1},
        {{"-f", "image2", "-o", "t_%d.jpg", "-c:v", "mjpeg"}, {"t_1.jpg", "t_3.jpg"}, "mjpeg", 1},
        {{"-f", "image2", "-o", "one.tif", "-frames", "1"}, {"one.tif"}, "tiff", 1},
    };
    // AVIF is AV1 in a container of its own, never the picture muxer's JPEG.
    if (avcodec_find_encoder(AV_CODEC_ID_AV1) != nullptr) {
        cases.push_back({{"-o", "a.avif", "-frames", "1"}, {"a.avif"}, "av1", 1});
    } else {
        const CliResult r = run({"in.mkv", "-frames", "1", "-o", "a.avif"});
        EXPECT_EQ(r.status, kExitFailure);
        EXPECT_NE(r.err.find("no encoder for av1"), std::string::npos) << r.err;
    }
    std::vector<std::string> toProbe;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.out));
        Args args = {"in.mkv", "-d", "video", "--passthru"};
        args.insert(args.end(), c.out.begin(), c.out.end());
        writeText(c.files.back(), std::string(kOld));
        const std::set<std::string> before = files();
        for (const char* keep : {"-q", "-n"}) {
            Args again = args;
            again.push_back(keep);
            const CliResult r = run(again);
            EXPECT_EQ(r.status, kExitFailure) << keep;
            EXPECT_NE(r.err.find(c.files.back() + " exists; use -y"), std::string::npos) << r.err;
            EXPECT_EQ(files(), before) << keep;
            EXPECT_EQ(readText(c.files.back()), kOld);
        }
        args.push_back("-y");
        const CliResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        for (const std::string& f : c.files) {
            // Pictures one after another are read by what they hold, not by a picture's name.
            const bool stream = c.out.front() == "-f" && c.out[1] == "image2pipe";
            const std::string probed = stream ? f + ".stream" : f;
            if (stream) writeText(probed, readText(f));
            toProbe.push_back(probed);
        }
    }
    const std::map<std::string, Probed> probed = probeFiles(dir_, toProbe);
    size_t k = 0;
    for (const Case& c : cases)
        for (size_t f = 0; f < c.files.size(); ++f, ++k) {
            SCOPED_TRACE(toProbe[k]);
            ASSERT_TRUE(probed.contains(toProbe[k]));
            EXPECT_EQ(probed.at(toProbe[k]).codec, c.codec);
            EXPECT_EQ(probed.at(toProbe[k]).frames, c.frames);
        }
    EXPECT_TRUE(files().contains("s_0008.png") && !files().contains("s_0010.png"));
    // Names FFmpeg's picture muxer cannot take, and segmenting muxers, are
    // refused before anything is written.
    const std::set<std::string> before = files();
    const std::pair<Args, std::string> refused[] = {
        {{"-f", "image2", "-o", "x.mkv"}, "-f image2 writes a picture file per frame"},
        {{"-f", "image2", "-o", "-"}, "for standard output, -f image2pipe"},
        {{"-f", "image2pipe", "-o", "x.avif"}, "x.avif: a container of its own"},
        {{"-o", "x.m3u8"}, "x.m3u8: hls writes files of its own"},
        {{"-o", "x.mpd"}, "x.mpd: dash writes files of its own"},
        {{"-f", "hls", "-o", "x.ts"}, "-f: hls writes files of its own"},
        {{"-f", "wtv", "-o", "-"}, "wtv goes back to finish the file, which standard output cannot"},
    };
    for (const auto& [out, message] : refused) {
        SCOPED_TRACE(testing::PrintToString(out));
        Args args = {"in.mkv", "-d", "video"};
        args.insert(args.end(), out.begin(), out.end());
        const CliResult r = run(args);
        EXPECT_EQ(r.status, kExitUsage);
        EXPECT_TRUE(r.oneLine()) << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(files(), before);
    }
    // Unnamed, pictures one after another are named after their muxer, not a container they are not.
    const CliResult unnamed = run({"in.mkv", "-d", "video", "-f", "image2pipe", "-q"});
    EXPECT_EQ(unnamed.status, 0) << unnamed.err;
    EXPECT_TRUE(files().contains("in.video.image2pipe"));
}

// Names as long as the system allows (255 bytes for the last part of a
// path): the temporary name beside one fits as well, for a new file and
// for one replaced, for a picture, a video and a sequence's frames, and
// such a name reads as an input.
TEST_F(Outputs, NamesUpToTheSystemsLimit) {
    const size_t nameMax = static_cast<size_t>(::pathconf(dir_.c_str(), _PC_NAME_MAX));
    ASSERT_GE(nameMax, 16u);
    auto longName = [nameMax](char fill, const std::string& tail) {
        return std::string(nameMax - tail.size(), fill) + tail;
    };
    const std::string input = longName('i', ".mkv");
    ASSERT_EQ(writeClip(path(input), patternClip(16, 8, 2), kSweepFps), "");
    const std::string frames = longName('s', "_1.png").substr(0, nameMax - 6);  // all but "1.png"
    const struct {
        std::string out;
        std::vector<std::string> written;
    } cases[] = {
        {longName('p', ".png"), {longName('p', ".png")}},
        {longName('v', ".mkv"), {longName('v', ".mkv")}},
        {frames + "%d.png", {frames + "1.png", frames + "2.png"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out.substr(c.out.size() - 12));
        for (const bool replace : {false, true}) {
            Args args = {input, "-d", "video", "--passthru", "-o", c.out, "-q"};
            if (c.written.size() == 1 && c.out.ends_with(".png")) args.insert(args.end(), {"-frames", "1"});
            if (replace) args.push_back("-y");
            const CliResult r = run(args);
            ASSERT_EQ(r.status, 0) << r.err;
            std::set<std::string> want = {input};
            want.insert(c.written.begin(), c.written.end());
            EXPECT_EQ(files(), want);  // nothing beside them: no temporary name left
            for (const std::string& f : c.written) EXPECT_GT(readText(f).size(), 0u);
        }
        for (const std::string& f : c.written) std::filesystem::remove(path(f));
    }
    // One byte more is the system's refusal, said in one line, and nothing is left.
    const CliResult r = run({input, "-d", "video", "-o", "x" + longName('x', ".mkv")});
    EXPECT_EQ(r.status, kExitFailure);
    EXPECT_TRUE(r.oneLine()) << r.err;
    EXPECT_NE(r.err.find(std::strerror(ENAMETOOLONG)), std::string::npos) << r.err;
    EXPECT_EQ(files(), std::set<std::string>{input});
}
