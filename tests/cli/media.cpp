#include "media.h"

#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr AVPixelFormat kRgb32 = AV_PIX_FMT_0RGB32;  // 0x00RRGGBB words in machine order

std::string errText(int e) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(e, buf, sizeof buf);
    return buf;
}

struct Freer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
    void operator()(AVFrame* f) const { av_frame_free(&f); }
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Freer>;

// Copies a top-down picture into an AVFrame of 32-bit RGB words.
void fill(AVFrame* f, const Image& img) {
    for (int32_t y = 0; y < img.h; ++y)
        std::memcpy(f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0],
                    &img.px[static_cast<size_t>(y) * img.w], static_cast<size_t>(img.w) * 4);
}

// Sends one frame (or the flush) and hands every packet that comes out to `take`.
template <typename Take>
std::string encode(AVCodecContext* c, AVFrame* f, AVPacket* p, Take take) {
    int r = avcodec_send_frame(c, f);
    if (r < 0) return "send_frame: " + errText(r);
    while ((r = avcodec_receive_packet(c, p)) == 0) {
        std::string e = take(p);
        av_packet_unref(p);
        if (!e.empty()) return e;
    }
    return r == AVERROR(EAGAIN) || r == AVERROR_EOF ? "" : "receive_packet: " + errText(r);
}

Owned<AVFrame> rgbFrame(int32_t w, int32_t h) {
    Owned<AVFrame> f(av_frame_alloc());
    f->format = kRgb32;
    f->width = w;
    f->height = h;
    av_frame_get_buffer(f.get(), 0);
    return f;
}

}  // namespace

Image patternFrame(int32_t w, int32_t h, int frame) {
    Image img(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t r = static_cast<uint32_t>(x * 7 + frame * 40) & 0xFF;
            const uint32_t g = static_cast<uint32_t>(y * 11 + frame * 3) & 0xFF;
            const uint32_t b = static_cast<uint32_t>(x * y + 5 * frame + 1) & 0xFF;
            img.at(x, y) = r << 16 | g << 8 | b;
        }
    return img;
}

std::vector<Image> patternClip(int32_t w, int32_t h, int frames) {
    std::vector<Image> clip;
    for (int k = 0; k < frames; ++k) clip.push_back(patternFrame(w, h, k));
    return clip;
}

std::string writeClip(const std::string& path, const std::vector<Image>& frames, int fps) {
    AVFormatContext* oc = nullptr;
    int r = avformat_alloc_output_context2(&oc, nullptr, nullptr, path.c_str());
    if (r < 0) return "no muxer for " + path;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> ocOwner(oc, [](AVFormatContext* c) {
        if (c->pb != nullptr) avio_closep(&c->pb);
        avformat_free_context(c);
    });
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_FFV1);
    Owned<AVCodecContext> c(avcodec_alloc_context3(codec));
    c->width = frames.front().w;
    c->height = frames.front().h;
    c->pix_fmt = kRgb32;
    c->time_base = {1, fps};
    c->framerate = {fps, 1};
    c->level = 3;
    c->gop_size = 1;
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set_int(c->priv_data, "slicecrc", 1, 0);
    if ((r = avcodec_open2(c.get(), codec, nullptr)) < 0) return "open ffv1: " + errText(r);
    AVStream* st = avformat_new_stream(oc, nullptr);
    avcodec_parameters_from_context(st->codecpar, c.get());
    st->time_base = c->time_base;
    st->avg_frame_rate = c->framerate;  // Matroska keeps it as the frame duration
    if ((r = avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0)
        return "open " + path + ": " + errText(r);
    if ((r = avformat_write_header(oc, nullptr)) < 0) return "header: " + errText(r);
    Owned<AVFrame> f = rgbFrame(c->width, c->height);
    Owned<AVPacket> p(av_packet_alloc());
    auto mux = [&](AVPacket* pkt) -> std::string {
        pkt->duration = 1;  // one frame, as a real muxing tool writes it
        av_packet_rescale_ts(pkt, c->time_base, st->time_base);
        pkt->stream_index = st->index;
        const int e = av_interleaved_write_frame(oc, pkt);
        return e < 0 ? "write: " + errText(e) : "";
    };
    for (size_t k = 0; k < frames.size(); ++k) {
        av_frame_make_writable(f.get());
        fill(f.get(), frames[k]);
        f->pts = static_cast<int64_t>(k);
        if (std::string e = encode(c.get(), f.get(), p.get(), mux); !e.empty()) return e;
    }
    if (std::string e = encode(c.get(), nullptr, p.get(), mux); !e.empty()) return e;
    if ((r = av_write_trailer(oc)) < 0) return "trailer: " + errText(r);
    return "";
}

std::string writeStill(const std::string& path, const Image& img) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    Owned<AVCodecContext> c(avcodec_alloc_context3(codec));
    c->width = img.w;
    c->height = img.h;
    c->pix_fmt = AV_PIX_FMT_RGB24;
    c->time_base = {1, 25};
    if (int r = avcodec_open2(c.get(), codec, nullptr); r < 0) return "open png: " + errText(r);
    Owned<AVFrame> rgb = rgbFrame(img.w, img.h);
    fill(rgb.get(), img);
    Owned<AVFrame> f(av_frame_alloc());
    f->format = AV_PIX_FMT_RGB24;
    f->width = img.w;
    f->height = img.h;
    av_frame_get_buffer(f.get(), 0);
    SwsContext* sws = sws_getContext(img.w, img.h, kRgb32, img.w, img.h, AV_PIX_FMT_RGB24, SWS_POINT, nullptr,
                                     nullptr, nullptr);
    sws_scale(sws, rgb->data, rgb->linesize, 0, img.h, f->data, f->linesize);
    sws_freeContext(sws);
    std::string bytes;
    Owned<AVPacket> p(av_packet_alloc());
    auto keep = [&bytes](AVPacket* pkt) {
        bytes.append(reinterpret_cast<const char*>(pkt->data), static_cast<size_t>(pkt->size));
        return std::string();
    };
    if (std::string e = encode(c.get(), f.get(), p.get(), keep); !e.empty()) return e;
    if (std::string e = encode(c.get(), nullptr, p.get(), keep); !e.empty()) return e;
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return "cannot create " + path;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && ok ? "" : "cannot write " + path;
}

Decoded decodeFile(const std::string& path) {
    Decoded d;
    AVFormatContext* ic = nullptr;
    int r = avformat_open_input(&ic, path.c_str(), nullptr, nullptr);
    if (r < 0) {
        d.error = "open: " + errText(r);
        return d;
    }
    std::unique_ptr<AVFormatContext*, void (*)(AVFormatContext**)> icOwner(&ic, avformat_close_input);
    avformat_find_stream_info(ic, nullptr);
    const AVCodec* codec = nullptr;
    const int si = av_find_best_stream(ic, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (si < 0) {
        d.error = "no video stream";
        return d;
    }
    d.codec = codec->name;
    const AVRational rate = ic->streams[si]->avg_frame_rate;
    d.fpsNum = rate.num;
    d.fpsDen = rate.den;
    Owned<AVCodecContext> c(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(c.get(), ic->streams[si]->codecpar);
    c->err_recognition = AV_EF_CRCCHECK;
    avcodec_open2(c.get(), codec, nullptr);
    Owned<AVFrame> f(av_frame_alloc());
    Owned<AVPacket> p(av_packet_alloc());
    SwsContext* sws = nullptr;
    auto take = [&]() {
        while (avcodec_receive_frame(c.get(), f.get()) == 0) {
            if (f->decode_error_flags != 0 || (f->flags & AV_FRAME_FLAG_CORRUPT) != 0)
                d.error = "damaged frame";
            Image img(f->width, f->height);
            Owned<AVFrame> rgb = rgbFrame(f->width, f->height);
            sws = sws_getCachedContext(sws, f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                       f->width, f->height, kRgb32, SWS_POINT, nullptr, nullptr, nullptr);
            sws_scale(sws, f->data, f->linesize, 0, f->height, rgb->data, rgb->linesize);
            for (int32_t y = 0; y < img.h; ++y)
                for (int32_t x = 0; x < img.w; ++x)
                    img.at(x, y) =
                        reinterpret_cast<const uint32_t*>(rgb->data[0] + y * rgb->linesize[0])[x] & 0xFFFFFF;
            d.frames.push_back(std::move(img));
        }
    };
    while ((r = av_read_frame(ic, p.get())) >= 0) {
        if (p->stream_index == si && avcodec_send_packet(c.get(), p.get()) < 0) d.error = "damaged packet";
        av_packet_unref(p.get());
        take();
    }
    if (r != AVERROR_EOF) d.error = "read: " + errText(r);
    avcodec_send_packet(c.get(), nullptr);
    take();
    sws_freeContext(sws);
    return d;
}

std::vector<PacketSpan> packetSpans(const std::string& path) {
    std::vector<PacketSpan> spans;
    AVFormatContext* ic = nullptr;
    if (avformat_open_input(&ic, path.c_str(), nullptr, nullptr) < 0) return spans;
    Owned<AVPacket> p(av_packet_alloc());
    while (av_read_frame(ic, p.get()) >= 0) {
        spans.push_back({p->pos, p->size});
        av_packet_unref(p.get());
    }
    avformat_close_input(&ic);
    return spans;
}
