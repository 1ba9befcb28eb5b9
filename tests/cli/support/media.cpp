#include "cli/support/media.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "os/av_support.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr AVPixelFormat kRgb32 = AV_PIX_FMT_0RGB32;  // 0x00RRGGBB words in machine order
constexpr uint32_t kRgbBits = 0xFFFFFF;

struct Freer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
    void operator()(AVFrame* f) const { av_frame_free(&f); }
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Freer>;

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
    if (avformat_alloc_output_context2(&oc, nullptr, nullptr, path.c_str()) < 0)
        return "no muxer for " + path;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> ocOwner(oc, [](AVFormatContext* o) {
        avio_closep(&o->pb);
        avformat_free_context(o);
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
    AVStream* st = avformat_new_stream(oc, nullptr);
    int r = avcodec_open2(c.get(), codec, nullptr);
    if (r >= 0) {
        avcodec_parameters_from_context(st->codecpar, c.get());
        st->time_base = c->time_base;
        st->avg_frame_rate = c->framerate;  // Matroska keeps it as the frame duration
        r = avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE);
    }
    if (r >= 0) r = avformat_write_header(oc, nullptr);
    Owned<AVFrame> f(av_frame_alloc());
    f->format = kRgb32;
    f->width = c->width;
    f->height = c->height;
    av_frame_get_buffer(f.get(), 0);
    Owned<AVPacket> p(av_packet_alloc());
    // One frame, or the flush, and every packet that comes out of it.
    auto send = [&](const AVFrame* frame) {
        int e = avcodec_send_frame(c.get(), frame);
        while (e >= 0 && (e = avcodec_receive_packet(c.get(), p.get())) == 0) {
            p->duration = 1;  // one frame, as a real muxing tool writes it
            av_packet_rescale_ts(p.get(), c->time_base, st->time_base);
            p->stream_index = st->index;
            e = av_interleaved_write_frame(oc, p.get());
        }
        return e == AVERROR(EAGAIN) || e == AVERROR_EOF ? 0 : e;
    };
    for (size_t k = 0; r >= 0 && k < frames.size(); ++k) {
        av_frame_make_writable(f.get());
        av_image_copy_plane(f->data[0], f->linesize[0], reinterpret_cast<const uint8_t*>(frames[k].px.data()),
                            c->width * 4, c->width * 4, c->height);
        f->pts = static_cast<int64_t>(k);
        r = send(f.get());
    }
    if (r >= 0) r = send(nullptr);
    if (r >= 0) r = av_write_trailer(oc);
    return r < 0 ? "writing " + path + ": " + avErrorText(r) : "";
}

std::string writePlannedClip(const std::string& path, const ClipPlan& plan) {
    AVFormatContext* oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, nullptr, path.c_str()) < 0)
        return "no muxer for " + path;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> ocOwner(oc, [](AVFormatContext* o) {
        avio_closep(&o->pb);
        avformat_free_context(o);
    });
    // QuickTime (the container of display matrices here) reads FFV1 back
    // as no frames: PNG pictures there.
    const bool png = std::string_view(oc->oformat->name) == "mov";
    const AVCodec* codec = avcodec_find_encoder(png ? AV_CODEC_ID_PNG : AV_CODEC_ID_FFV1);
    Owned<AVCodecContext> c(avcodec_alloc_context3(codec));
    c->width = plan.w;
    c->height = plan.h;
    c->pix_fmt = png              ? AV_PIX_FMT_RGB24
                 : plan.rgb       ? kRgb32
                 : plan.chroma420 ? AV_PIX_FMT_YUV420P
                                  : AV_PIX_FMT_YUV444P;
    c->time_base = {plan.tbNum, plan.tbDen};
    c->colorspace = static_cast<AVColorSpace>(plan.colorspace);
    c->color_range = static_cast<AVColorRange>(plan.range);
    if (plan.sarNum > 0) c->sample_aspect_ratio = {plan.sarNum, plan.sarDen};
    c->level = plan.checksums ? 3 : 1;  // no global header: QuickTime keeps none for FFV1
    if (plan.checksums) av_opt_set_int(c->priv_data, "slicecrc", 1, 0);
    c->gop_size = 1;
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVStream* st = avformat_new_stream(oc, nullptr);
    int r = avcodec_open2(c.get(), codec, nullptr);
    if (r >= 0) r = avcodec_parameters_from_context(st->codecpar, c.get());
    st->time_base = c->time_base;
    st->sample_aspect_ratio = c->sample_aspect_ratio;
    if (plan.fps > 0) st->avg_frame_rate = {plan.fps, 1};
    if (r >= 0 && plan.rotation != 0) {
        auto* m = reinterpret_cast<int32_t*>(
            av_stream_new_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(int32_t)));
        av_display_rotation_set(m, plan.rotation);  // clockwise; reading it back gives counterclockwise
    }
    if (r >= 0) r = avio_open(&oc->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (r >= 0) r = avformat_write_header(oc, nullptr);
    Owned<AVFrame> f(av_frame_alloc());
    f->format = c->pix_fmt;
    f->width = plan.w;
    f->height = plan.h;
    f->colorspace = c->colorspace;
    f->color_range = c->color_range;
    av_frame_get_buffer(f.get(), 0);
    Owned<AVPacket> p(av_packet_alloc());
    int64_t duration = 1;  // of the frame being sent: the codecs here have no delay
    auto send = [&](const AVFrame* frame) {
        int e = avcodec_send_frame(c.get(), frame);
        while (e >= 0 && (e = avcodec_receive_packet(c.get(), p.get())) == 0) {
            p->duration = duration;  // else QuickTime's edit list ends before the frame
            av_packet_rescale_ts(p.get(), c->time_base, st->time_base);
            p->stream_index = st->index;
            e = av_interleaved_write_frame(oc, p.get());
        }
        return e == AVERROR(EAGAIN) || e == AVERROR_EOF ? 0 : e;
    };
    for (size_t k = 0; r >= 0 && k < plan.pts.size(); ++k) {
        av_frame_make_writable(f.get());
        for (int y = 0; y < plan.h; ++y)
            for (int x = 0; x < plan.w; ++x) {
                const uint32_t v = plan.pixel(static_cast<int>(k), x, y);
                if (png) {
                    for (int i = 0; i < 3; ++i)
                        f->data[0][y * f->linesize[0] + 3 * x + i] = static_cast<uint8_t>(v >> (16 - 8 * i));
                } else if (plan.rgb) {
                    reinterpret_cast<uint32_t*>(f->data[0] + y * f->linesize[0])[x] = v;
                } else {
                    const int shift = plan.chroma420 ? 1 : 0;
                    for (int plane = 0; plane < 3; ++plane)
                        if (plane == 0 || (x % (1 << shift) == 0 && y % (1 << shift) == 0))
                            f->data[plane][(plane == 0 ? y : y >> shift) * f->linesize[plane] +
                                           (plane == 0 ? x : x >> shift)] =
                                static_cast<uint8_t>(v >> (16 - 8 * plane));
                }
            }
        f->pts = plan.pts[k];
        duration = k + 1 < plan.pts.size() ? plan.pts[k + 1] - plan.pts[k] : 1;
        r = send(f.get());
    }
    if (r >= 0) r = send(nullptr);
    if (r >= 0) r = av_write_trailer(oc);
    return r < 0 ? "writing " + path + ": " + avErrorText(r) : "";
}

Decoded decodeFile(const std::string& path) {
    Decoded d;
    AVFormatContext* ic = nullptr;
    if (const int r = avformat_open_input(&ic, path.c_str(), nullptr, nullptr); r < 0) {
        d.error = "open: " + avErrorText(r);
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
    d.fpsNum = ic->streams[si]->avg_frame_rate.num;
    d.fpsDen = ic->streams[si]->avg_frame_rate.den;
    const AVRational sar = av_guess_sample_aspect_ratio(ic, ic->streams[si], nullptr);
    d.sarNum = sar.num;
    d.sarDen = sar.den;
    const double tb = av_q2d(ic->streams[si]->time_base);
    Owned<AVCodecContext> c(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(c.get(), ic->streams[si]->codecpar);
    c->err_recognition = AV_EF_CRCCHECK;
    avcodec_open2(c.get(), codec, nullptr);
    Owned<AVFrame> f(av_frame_alloc());
    Owned<AVPacket> p(av_packet_alloc());
    SwsContext* sws = nullptr;
    auto decode = [&](const AVPacket* packet) {
        if (avcodec_send_packet(c.get(), packet) < 0) d.error = "damaged packet";
        while (avcodec_receive_frame(c.get(), f.get()) == 0) {
            if (f->decode_error_flags != 0 || (f->flags & AV_FRAME_FLAG_CORRUPT) != 0)
                d.error = "damaged frame";
            d.times.push_back(static_cast<double>(f->best_effort_timestamp) * tb);
            Image& img = d.frames.emplace_back(f->width, f->height);
            sws = sws_getCachedContext(sws, f->width, f->height, static_cast<AVPixelFormat>(f->format),
                                       f->width, f->height, kRgb32, SWS_POINT, nullptr, nullptr, nullptr);
            // The scaler's vector code writes whole blocks past a row's end, so
            // it gets padded rows of its own, copied out afterwards.
            Owned<AVFrame> rgb(av_frame_alloc());
            rgb->format = kRgb32;
            rgb->width = f->width;
            rgb->height = f->height;
            if (av_frame_get_buffer(rgb.get(), 0) < 0) {
                d.error = "out of memory";
                continue;
            }
            sws_scale(sws, f->data, f->linesize, 0, f->height, rgb->data, rgb->linesize);
            for (int y = 0; y < img.h; ++y) {
                const auto* row = reinterpret_cast<const uint32_t*>(rgb->data[0] + y * rgb->linesize[0]);
                for (int x = 0; x < img.w; ++x) img.at(x, y) = row[x] & kRgbBits;
            }
        }
    };
    int r = 0;
    while ((r = av_read_frame(ic, p.get())) >= 0) {
        d.packets.push_back({p->pos, p->size});
        if (p->stream_index == si) decode(p.get());
        av_packet_unref(p.get());
    }
    if (r != AVERROR_EOF) d.error = "read: " + avErrorText(r);
    decode(nullptr);
    sws_freeContext(sws);
    if (!d.times.empty()) {
        const double first = d.times.front();
        for (double& t : d.times) t -= first;
    }
    return d;
}

::testing::AssertionResult samePicture(const Image& got, const Image& want, uint32_t mask) {
    if (got.w != want.w || got.h != want.h)
        return ::testing::AssertionFailure()
               << "size " << got.w << "x" << got.h << ", want " << want.w << "x" << want.h;
    for (size_t i = 0; i < got.px.size(); ++i)
        if (got.px[i] != (want.px[i] & mask))
            return ::testing::AssertionFailure()
                   << "pixel (" << i % static_cast<size_t>(got.w) << ", " << i / static_cast<size_t>(got.w)
                   << ") is " << std::hex << got.px[i] << ", want " << (want.px[i] & mask);
    return ::testing::AssertionSuccess();
}

std::map<std::string, Probed> probeFiles(const std::string& dir, const std::vector<std::string>& names) {
    // Names in single quotes; a quote inside one closes, escapes and reopens.
    std::string list;
    for (const std::string& n : names) {
        std::string q = "'";
        for (const char c : n) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        list += q + "' ";
    }
    // Four at a time; each file's line goes out in one write, so lines never mix.
    const std::string command =
        "cd '" + dir + "' && printf '%s\\0' " + list +
        "| xargs -0 -n 1 -P 4 sh -c 'r=$(ffprobe -v quiet -select_streams v:0 -count_frames "
        "-show_entries stream=codec_name,nb_read_frames -of csv=p=0 \"$0\" | head -n 1); "
        "printf \"%s\\t%s\\n\" \"$0\" \"$r\"'";
    std::map<std::string, Probed> probed;
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr) return probed;
    std::string out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
    // "name\tcodec,frames\n" per file; "name\t\n" for one ffprobe cannot read.
    for (size_t begin = 0; begin < out.size();) {
        size_t end = out.find('\n', begin);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(begin, end - begin);
        begin = end + 1;
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        Probed& p = probed[line.substr(0, tab)];
        const std::string facts = line.substr(tab + 1);
        const size_t comma = facts.find(',');
        p.codec = facts.substr(0, comma);
        if (comma != std::string::npos) p.frames = std::atoi(facts.c_str() + comma + 1);
    }
    return probed;
}
