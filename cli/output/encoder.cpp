#include "output/encoder.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "os/av_support.h"
#include "output/writer_table.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

// YUV output taller than PAL's 576 lines is taken as HD: written and tagged
// with Rec. 709's matrix, primaries and transfer, else with Rec. 601's.
constexpr int kLargestSdHeight = 576;

constexpr size_t kPathBufferSize = 4096;

std::string pixelFormatName(AVPixelFormat fmt) {
    const char* name = av_get_pix_fmt_name(fmt);
    return name != nullptr ? name : "(unknown)";
}

bool isYuv(AVPixelFormat fmt) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(fmt);
    return d != nullptr && (d->flags & AV_PIX_FMT_FLAG_RGB) == 0 && d->nb_components >= 3;
}

bool isJpegRange(AVPixelFormat fmt) { return isYuv(fmt) && pixelFormatName(fmt).starts_with("yuvj"); }

// With no -pix_fmt: ours when the encoder takes it, else the first of
// these, which keep every pixel's own colour (no chroma subsampling, so a
// one-pixel trace stays sharp) at 8 bits, as players read them best.
constexpr AVPixelFormat kFullChromaFormats[] = {
    kFramePixelFormat, AV_PIX_FMT_RGB24,   AV_PIX_FMT_BGR24,
    AV_PIX_FMT_GBRP,   AV_PIX_FMT_YUV444P, AV_PIX_FMT_YUVJ444P,
};

std::string acceptedFormats(const AVPixelFormat* list) {
    std::string names;
    for (const AVPixelFormat* p = list; *p != AV_PIX_FMT_NONE; ++p)
        names += (names.empty() ? "" : ", ") + pixelFormatName(*p);
    return names;
}

Status choosePixelFormat(const AVCodec* codec, const WriterSettings& s, const std::string& target,
                         AVPixelFormat& chosen) {
    const AVPixelFormat* list = codec->pix_fmts;
    if (!s.pixelFormat.empty()) {
        chosen = av_get_pix_fmt(s.pixelFormat.c_str());
        if (chosen == AV_PIX_FMT_NONE)
            return Status::usage("-pix_fmt: '" + s.pixelFormat + "' is not a pixel format FFmpeg knows");
        if (list == nullptr) return {};
        for (const AVPixelFormat* p = list; *p != AV_PIX_FMT_NONE; ++p)
            if (*p == chosen) return {};
        return Status::usage("cannot encode " + target + ": " + codec->name + " does not take -pix_fmt " +
                             s.pixelFormat + " (it takes " + acceptedFormats(list) + ")");
    }
    chosen = kFramePixelFormat;
    if (const WriterChoice* row = writerForEncoder(codec->name);
        row != nullptr && row->pixelFormat != nullptr) {
        chosen = av_get_pix_fmt(row->pixelFormat);
        return {};
    }
    if (list == nullptr) return {};
    for (AVPixelFormat wanted : kFullChromaFormats)
        for (const AVPixelFormat* p = list; *p != AV_PIX_FMT_NONE; ++p)
            if (*p == wanted) {
                chosen = wanted;
                return {};
            }
    // Else the least lossy of the encoder's formats with whole colour, or
    // with colour halved across only (4:2:2) where it has none.
    for (const int across : {0, 1}) {
        std::vector<AVPixelFormat> kept;
        for (const AVPixelFormat* p = list; *p != AV_PIX_FMT_NONE; ++p) {
            const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(*p);
            if (d != nullptr && d->log2_chroma_w == across && d->log2_chroma_h == 0 &&
                (d->flags & AV_PIX_FMT_FLAG_HWACCEL) == 0)
                kept.push_back(*p);
        }
        if (kept.empty()) continue;
        kept.push_back(AV_PIX_FMT_NONE);
        int loss = 0;
        chosen = avcodec_find_best_pix_fmt_of_list(kept.data(), kFramePixelFormat, 0, &loss);
        return {};
    }
    return Status::fail("cannot encode " + target + ": " + codec->name +
                        " subsamples colour vertically (it takes only " + acceptedFormats(list) +
                        "); give -pix_fmt to accept that, or -c:v another encoder");
}

const AVOutputFormat* imageMuxer() { return av_guess_format("image2", nullptr, nullptr); }

}  // namespace

namespace {

// A picture type image2 lists, and the muxer the name picks: image2 itself
// or, where a container of its own claims the type (.avif), that one.
const AVOutputFormat* pictureMuxerOf(const std::string& path) {
    const AVOutputFormat* image2 = imageMuxer();
    if (image2 == nullptr || image2->extensions == nullptr || !av_match_ext(path.c_str(), image2->extensions))
        return nullptr;
    const AVOutputFormat* own = av_guess_format(nullptr, path.c_str(), nullptr);
    return own != nullptr ? own : image2;
}

}  // namespace

bool hasImageExtension(const std::string& path) {
    const AVOutputFormat* muxer = pictureMuxerOf(path);
    return muxer != nullptr && muxer == imageMuxer();
}

AVCodecID pictureCodecOf(const std::string& path) {
    const AVOutputFormat* muxer = pictureMuxerOf(path);
    if (muxer == nullptr) return AV_CODEC_ID_NONE;
    // image2 falls back to its default (JPEG) for a type its tags lack: only its own tags count.
    if (muxer != imageMuxer()) return muxer->video_codec;
    return av_guess_codec(muxer, nullptr, path.c_str(), nullptr, AVMEDIA_TYPE_VIDEO);
}

Status findVideoEncoder(const std::string& name, const AVCodec*& codec) {
    codec = avcodec_find_encoder_by_name(name.c_str());
    if (codec == nullptr) {
        const AVCodecDescriptor* d = avcodec_descriptor_get_by_name(name.c_str());
        if (d != nullptr) codec = avcodec_find_encoder(d->id);
    }
    if (codec == nullptr || codec->type != AVMEDIA_TYPE_VIDEO)
        return Status::usage("-c:v: this FFmpeg has no video encoder called '" + name + "'");
    return {};
}

Status expandPattern(const std::string& pattern, int64_t number, std::string& name) {
    char buf[kPathBufferSize];
    if (number < 0 || number > INT32_MAX ||
        av_get_frame_filename2(buf, sizeof buf, pattern.c_str(), static_cast<int>(number), 0) < 0)
        return Status::fail(pattern + ": cannot number frame " + std::to_string(number));
    name = buf;
    return {};
}

FrameEncoder::~FrameEncoder() {
    sws_freeContext(sws_);
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&ctx_);
}

Status FrameEncoder::configure(const AVCodec* codec, const WriterSettings& s, bool globalHeader, int threads,
                               const std::string& target) {
    avcodec_free_context(&ctx_);
    ctx_ = avcodec_alloc_context3(codec);
    if (ctx_ == nullptr) return Status::fail("out of memory for the encoder of " + target);
    ctx_->width = s.w;
    ctx_->height = s.h;
    ctx_->time_base = s.timeBase.num > 0 ? AVRational{s.timeBase.num, s.timeBase.den}
                                         : AVRational{s.frameRate.den, s.frameRate.num};
    ctx_->framerate = {s.frameRate.num, s.frameRate.den};
    ctx_->sample_aspect_ratio = {s.sampleAspect.num, s.sampleAspect.den};
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
    if (Status st = choosePixelFormat(codec, s, target, pixelFormat); !st.ok()) return st;
    ctx_->pix_fmt = pixelFormat;
    ctx_->thread_count = threads;  // 0: as many as the machine has
    const bool yuv = isYuv(ctx_->pix_fmt);
    const bool hd = s.h > kLargestSdHeight;
    if (yuv) {
        ctx_->colorspace = hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
        ctx_->color_primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
        ctx_->color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
        ctx_->color_range = isJpegRange(ctx_->pix_fmt) ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    }
    if (globalHeader) ctx_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    return {};
}

Status FrameEncoder::open(const AVCodec* codec, const WriterSettings& s, bool globalHeader, bool immediate,
                          AVDictionary** options, const std::string& target) {
    target_ = target;
    frame_ = av_frame_alloc();
    if (frame_ == nullptr) return Status::fail("out of memory for the encoder of " + target);
    const int threads = immediate ? 1 : s.threads;
    if (Status st = configure(codec, s, globalHeader, threads, target); !st.ok()) return st;
    AVDictionary* own = nullptr;
    if (options == nullptr) options = &own;
    const WriterChoice* row = writerForEncoder(codec->name);
    if (row != nullptr && av_dict_parse_string(options, row->options, "=", ":", 0) < 0) {
        av_dict_free(&own);
        return Status::fail("out of memory for the encoder options of " + target);
    }
    AVDictionary* again = nullptr;  // the options as given: a failed open may have taken some
    int r = av_dict_copy(&again, *options, 0);
    if (r >= 0) r = avcodec_open2(ctx_, codec, options);
    if (r < 0 && threads != 1) {
        // Frame threads hide why an encoder refused ("ff_frame_thread_encoder_init
        // failed"); one thread says why, or works where they cannot.
        Status st = configure(codec, s, globalHeader, 1, target);
        if (st.ok()) {
            av_dict_free(options);
            *options = again;
            again = nullptr;
            r = avcodec_open2(ctx_, codec, options);
        }
    }
    av_dict_free(&again);
    av_dict_free(&own);
    if (r < 0)
        return Status::fail("cannot encode " + target + " with " + codec->name + " (" + libraryDetail(r) +
                            ")");
    const bool yuv = isYuv(ctx_->pix_fmt);
    const bool jpegRange = isJpegRange(ctx_->pix_fmt);

    frame_->format = ctx_->pix_fmt;
    frame_->width = s.w;
    frame_->height = s.h;
    r = av_frame_get_buffer(frame_, 0);
    if (r < 0) return Status::fail("cannot encode " + target + ": no frame buffer (" + avErrorText(r) + ")");
    sws_ = sws_getContext(s.w, s.h, kFramePixelFormat, s.w, s.h, ctx_->pix_fmt, swsFlags(), nullptr, nullptr,
                          nullptr);
    if (sws_ == nullptr)
        return Status::fail("cannot encode " + target + ": no conversion from RGB to " +
                            pixelFormatName(ctx_->pix_fmt));
    if (yuv) {
        constexpr int kNoBrightness = 0, kUnitContrast = 1 << 16, kUnitSaturation = 1 << 16;
        if (sws_setColorspaceDetails(sws_, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                     sws_getCoefficients(ctx_->colorspace), jpegRange ? 1 : 0, kNoBrightness,
                                     kUnitContrast, kUnitSaturation) < 0)
            return Status::fail("cannot encode " + target + ": the converter cannot set up RGB to " +
                                pixelFormatName(ctx_->pix_fmt) + " with the picture's YUV matrix");
    }
    return {};
}

Status FrameEncoder::openForPictures(const std::string& path, const WriterSettings& s) {
    const AVOutputFormat* image2 = imageMuxer();
    if (image2 == nullptr)
        return Status::fail(path + ": this FFmpeg cannot write pictures (no image2 muxer)");
    const AVCodecID id = hasImageExtension(path) ? pictureCodecOf(path) : AV_CODEC_ID_NONE;
    if (id == AV_CODEC_ID_NONE)
        return Status::usage(path + ": not a picture type FFmpeg writes (.png, .jpg ...)");
    const AVCodec* codec = nullptr;
    if (!s.codec.empty()) {
        // As FFmpeg does: -c:v's pictures, whatever the name says.
        if (Status st = findVideoEncoder(s.codec, codec); !st.ok()) return st;
    } else {
        codec = avcodec_find_encoder(id);
    }
    if (codec == nullptr)
        return Status::fail(path + ": this FFmpeg has no encoder for " + avcodec_get_name(id) + " pictures");
    packet_ = av_packet_alloc();
    if (packet_ == nullptr) return Status::fail("out of memory for the encoder of " + path);
    return open(codec, s, false, true, nullptr, path);
}

Status FrameEncoder::send(const FrameBuffer* frame, int64_t pts) {
    if (frame == nullptr) {
        const int r = avcodec_send_frame(ctx_, nullptr);
        if (r < 0 && r != AVERROR_EOF)
            return Status::fail("cannot finish encoding " + target_ + " (" + libraryDetail(r) + ")");
        return {};
    }
    int r = av_frame_make_writable(frame_);
    if (r < 0)
        return Status::fail("cannot encode " + target_ + ": no writable frame (" + libraryDetail(r) + ")");
    const uint8_t* src[4] = {frame->topRowBytes(), nullptr, nullptr, nullptr};
    const int srcStride[4] = {frame->topDownStride(), 0, 0, 0};
    if (sws_scale(sws_, src, srcStride, 0, frame->h(), frame_->data, frame_->linesize) != frame->h())
        return Status::fail("cannot encode " + target_ + ": converting the frame to " +
                            pixelFormatName(ctx_->pix_fmt) + " failed");
    frame_->pts = pts;
    r = avcodec_send_frame(ctx_, frame_);
    if (r < 0) return Status::fail("cannot encode " + target_ + " (" + libraryDetail(r) + ")");
    return {};
}

Status FrameEncoder::writePicture(const FrameBuffer& frame, int64_t pts, const PendingFile& file) {
    if (Status s = send(&frame, pts); !s.ok()) return s;
    std::vector<uint8_t> bytes;
    for (;;) {
        const int r = receive(packet_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) return Status::fail("cannot encode " + file.target() + " (" + libraryDetail(r) + ")");
        bytes.insert(bytes.end(), packet_->data, packet_->data + packet_->size);
        av_packet_unref(packet_);
    }
    if (bytes.empty()) return Status::fail("cannot encode " + file.target() + ": the encoder gave nothing");
    FILE* f = std::fopen(file.temp().c_str(), "wb");
    const bool ok = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if ((f != nullptr && std::fclose(f) != 0) || !ok)
        return Status::fail("cannot write " + file.target() + ": " + std::strerror(errno));
    return {};
}
