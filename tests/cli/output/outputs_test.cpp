// What kivrel writes in each of FFmpeg's video containers, read back with
// FFmpeg's libraries, and the pictures it reads one after another from a pipe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "cli/support/cli_runner.h"
#include "cli/support/media.h"
#include "vocabulary.h"

extern "C" {
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
    {"rtsp", "talks to a server"},
    {"sap", "announces on the network"},
    {"hds", "writes a folder of fragments"},
    {"smoothstreaming", "writes a folder of fragments"},
    {"dash", "writes a manifest beside its segments"},
    {"hls", "writes a playlist beside its segments"},
    {"image2", "one file per frame: the picture writers'"},
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
};

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

}  // namespace

TEST_F(Outputs, EveryVideoMuxerWritesTheCardWholeOrSaysWhyNot) {
    constexpr int kW = 352, kH = 288, kFrames = 3, kFps = 25;
    void* opaque = nullptr;
    int written = 0;
    for (const AVOutputFormat* m = av_muxer_iterate(&opaque); m != nullptr; m = av_muxer_iterate(&opaque)) {
        const std::string name = m->name;
        if (m->video_codec == AV_CODEC_ID_NONE || rowOf(kNotPlainFiles, name) != nullptr) continue;
        // Output devices are listed once a test here has loaded them for an input; they write no file.
        if (m->priv_class != nullptr && AV_IS_OUTPUT_DEVICE(m->priv_class->category)) continue;
        SCOPED_TRACE(name);
        const std::string out = "out_" + name;
        const CliResult r = run({"--card-size", "352x288", "-d", "video", "-frames", std::to_string(kFrames),
                                 "-f", name, "-o", out, "-q"});
        if (const Refusal* refused = rowOf(kRefusals, name)) {
            EXPECT_NE(r.status, 0);
            EXPECT_NE(r.err.find(refused->reason), std::string::npos) << r.err;
            EXPECT_TRUE(r.oneLine()) << r.err;
            EXPECT_FALSE(files().contains(out));
            continue;
        }
        ASSERT_EQ(r.status, 0) << r.err;
        ++written;
        if (rowOf(kWriteOnly, name) != nullptr) continue;
        const StreamFacts facts = factsOf(path(out));
        EXPECT_EQ(facts.error, "");
        if (!facts.error.empty()) continue;
        EXPECT_EQ(facts.w, kW);
        EXPECT_EQ(facts.h, kH);
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
        ASSERT_EQ(back.frames.size(), static_cast<size_t>(kFrames)) << back.error;
        if (!listed(kNoRate, name)) {
            EXPECT_EQ(back.fpsNum * 1.0 / back.fpsDen, kFps);
        }
        EXPECT_TRUE(back.sarNum == 0 || back.sarNum == back.sarDen) << back.sarNum << ":" << back.sarDen;
    }
    EXPECT_GT(written, 0);
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
