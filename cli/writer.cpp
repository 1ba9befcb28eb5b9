#include "writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "av_support.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kTempNameAttempts = 100;
constexpr size_t kPathBufferSize = 4096;

std::string existsMessage(const std::string& path) {
    return path + " exists; use --overwrite (-y) to replace it";
}

// A file written under a temporary name beside its target and moved into
// place by commit(); removed if never committed.
class PendingFile {
public:
    PendingFile() = default;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile() {
        if (!temp_.empty()) ::unlink(temp_.c_str());
    }

    Status create(const std::string& target, bool overwrite) {
        target_ = target;
        struct stat st {};
        if (::stat(target.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) return Status::fail(target + " is a directory");
            if (!overwrite) return Status::fail(existsMessage(target));
        }
        const size_t slash = target.rfind('/');
        const std::string dir = slash == std::string::npos ? "" : target.substr(0, slash + 1);
        const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        static int counter = 0;
        for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
            const std::string name =
                dir + "." + base + ".kivrel-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
            // 0666 less the umask: the finished file gets the usual permissions.
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                temp_ = name;
                return {};
            }
            if (errno != EEXIST) return Status::fail("cannot write " + target + ": " + std::strerror(errno));
        }
        return Status::fail("cannot write " + target + ": no free temporary name beside it");
    }

    const std::string& temp() const { return temp_; }
    const std::string& target() const { return target_; }

    Status commit(bool overwrite) {
        int r = 0;
        if (overwrite) {
            r = std::rename(temp_.c_str(), target_.c_str());
        } else {
            // Atomic where the file system allows: never replace a file that
            // appeared while we were writing.
            r = ::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE);
            if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
                struct stat st {};
                if (::stat(target_.c_str(), &st) == 0) return Status::fail(existsMessage(target_));
                r = std::rename(temp_.c_str(), target_.c_str());
            }
        }
        if (r != 0) {
            if (errno == EEXIST) return Status::fail(existsMessage(target_));
            return Status::fail("cannot move the finished file to " + target_ + ": " + std::strerror(errno));
        }
        temp_.clear();
        return {};
    }

private:
    std::string target_, temp_;
};

bool isYuv(AVPixelFormat fmt) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(fmt);
    return d != nullptr && (d->flags & AV_PIX_FMT_FLAG_RGB) == 0 && d->nb_components >= 3;
}

// The encoder's own pixel format when it takes ours; else a lossless one;
// else 4:2:0, which every player reads (studio or full range, whichever the
// encoder lists first: JPEG encoders want full range); else the least lossy.
AVPixelFormat choosePixelFormat(const AVCodec* codec) {
    const AVPixelFormat* list = codec->pix_fmts;
    if (list == nullptr) return kHostPixelFormat;
    for (const AVPixelFormat* p = list; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == kHostPixelFormat) return *p;
    int loss = 0;
    const AVPixelFormat best = avcodec_find_best_pix_fmt_of_list(list, kHostPixelFormat, 0, &loss);
    if (loss == 0) return best;
    for (const AVPixelFormat* p = list; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == AV_PIX_FMT_YUV420P || *p == AV_PIX_FMT_YUVJ420P) return *p;
    return best;
}

// An encoder with its converter: takes the host's bottom-up RGB frames.
class FrameEncoder {
public:
    ~FrameEncoder() {
        sws_freeContext(sws_);
        av_frame_free(&frame_);
        avcodec_free_context(&ctx_);
    }

    // `immediate`: every frame's packet must come out before the next frame
    // goes in (one file per picture), which rules out frame threads.
    Status open(const AVCodec* codec, const WriterSettings& s, bool globalHeader, bool immediate,
                AVDictionary** options, const std::string& target) {
        ctx_ = avcodec_alloc_context3(codec);
        frame_ = av_frame_alloc();
        if (ctx_ == nullptr || frame_ == nullptr) return Status::fail("out of memory");
        ctx_->width = s.w;
        ctx_->height = s.h;
        ctx_->time_base = {s.frameRate.den, s.frameRate.num};
        ctx_->framerate = {s.frameRate.num, s.frameRate.den};
        ctx_->sample_aspect_ratio = {1, 1};
        ctx_->pix_fmt = choosePixelFormat(codec);
        ctx_->thread_count = immediate ? 1 : 0;  // 0: as many as the machine has
        const bool yuv = isYuv(ctx_->pix_fmt);
        const bool hd = s.h > kLargestSdHeight;
        const bool jpegRange = yuv && std::strncmp(av_get_pix_fmt_name(ctx_->pix_fmt), "yuvj", 4) == 0;
        if (yuv) {
            ctx_->colorspace = hd ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
            ctx_->color_primaries = hd ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
            ctx_->color_trc = hd ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
            ctx_->color_range = jpegRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
        }
        if (globalHeader) ctx_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int r = avcodec_open2(ctx_, codec, options);
        if (r < 0)
            return Status::fail("cannot encode " + target + " with " + codec->name + " (" + libraryDetail(r) +
                                ")");

        frame_->format = ctx_->pix_fmt;
        frame_->width = s.w;
        frame_->height = s.h;
        r = av_frame_get_buffer(frame_, 0);
        if (r < 0) return Status::fail("cannot encode " + target + ": " + avErrorText(r));
        sws_ = sws_getContext(s.w, s.h, kHostPixelFormat, s.w, s.h, ctx_->pix_fmt, swsFlags(), nullptr,
                              nullptr, nullptr);
        if (sws_ == nullptr)
            return Status::fail("cannot encode " + target + ": no conversion from RGB to " +
                                av_get_pix_fmt_name(ctx_->pix_fmt));
        if (yuv) {
            constexpr int kNoBrightness = 0, kUnitContrast = 1 << 16, kUnitSaturation = 1 << 16;
            sws_setColorspaceDetails(sws_, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                     sws_getCoefficients(ctx_->colorspace), jpegRange ? 1 : 0, kNoBrightness,
                                     kUnitContrast, kUnitSaturation);
        }
        target_ = target;
        return {};
    }

    // nullptr: no more frames, drain the encoder.
    Status send(const FrameBuffer* frame, int64_t pts) {
        int r = 0;
        if (frame == nullptr) {
            r = avcodec_send_frame(ctx_, nullptr);
        } else {
            r = av_frame_make_writable(frame_);
            if (r >= 0) {
                const uint8_t* src[4] = {frame->topRowBytes(), nullptr, nullptr, nullptr};
                const int srcStride[4] = {frame->topDownStride(), 0, 0, 0};
                sws_scale(sws_, src, srcStride, 0, frame->h(), frame_->data, frame_->linesize);
                frame_->pts = pts;
                r = avcodec_send_frame(ctx_, frame_);
            }
        }
        if (r < 0 && r != AVERROR_EOF)
            return Status::fail("cannot encode " + target_ + " (" + libraryDetail(r) + ")");
        return {};
    }

    // 0: a packet; AVERROR(EAGAIN): none yet; AVERROR_EOF: drained; else an error.
    int receive(AVPacket* packet) { return avcodec_receive_packet(ctx_, packet); }
    const AVCodecContext* context() const { return ctx_; }

private:
    AVCodecContext* ctx_ = nullptr;
    AVFrame* frame_ = nullptr;
    SwsContext* sws_ = nullptr;
    std::string target_;
};

const AVOutputFormat* imageMuxer() { return av_guess_format("image2", nullptr, nullptr); }

bool hasImageExtension(const std::string& path) {
    const AVOutputFormat* image2 = imageMuxer();
    return image2 != nullptr && image2->extensions != nullptr &&
           av_match_ext(path.c_str(), image2->extensions);
}

// "%d" patterns as FFmpeg's image sequences spell them ("%04d", "%%" for a percent sign).
bool expandPattern(const std::string& pattern, int64_t number, std::string& name) {
    char buf[kPathBufferSize];
    if (number < 0 || number > INT32_MAX ||
        av_get_frame_filename2(buf, sizeof buf, pattern.c_str(), static_cast<int>(number), 0) < 0)
        return false;
    name = buf;
    return true;
}

class NullWriter final : public Writer {
public:
    Status write(const FrameBuffer&, int64_t) override { return {}; }
    Status finish() override { return {}; }
    std::string destination() const override { return {}; }
};

// One picture, or one per frame for a sequence; each its own file.
class ImageWriter final : public Writer {
public:
    ImageWriter(std::string path, bool sequence, bool overwrite)
        : path_(std::move(path)), sequence_(sequence), overwrite_(overwrite) {}

    Status open(const WriterSettings& settings) {
        const AVCodecID id =
            av_guess_codec(imageMuxer(), nullptr, path_.c_str(), nullptr, AVMEDIA_TYPE_VIDEO);
        const AVCodec* codec = avcodec_find_encoder(id);
        if (codec == nullptr)
            return Status::fail(path_ + ": this FFmpeg has no encoder for " + avcodec_get_name(id) +
                                " pictures");
        packet_ = av_packet_alloc();
        if (packet_ == nullptr) return Status::fail("out of memory");
        if (Status s = encoder_.open(codec, settings, false, true, nullptr, path_); !s.ok()) return s;
        if (!sequence_) return reserve(path_);  // fail early if the name is taken
        return {};
    }

    ~ImageWriter() override { av_packet_free(&packet_); }

    Status write(const FrameBuffer& frame, int64_t frameNumber) override {
        if (!sequence_ && written_ > 0)
            return Status::fail(path_ +
                                " holds one picture; name an image sequence (name_%04d.png) or a video");
        if (sequence_) {
            std::string name;
            if (!expandPattern(path_, frameNumber, name))
                return Status::fail(path_ + ": cannot number frame " + std::to_string(frameNumber));
            if (Status s = reserve(name); !s.ok()) return s;
        }
        if (Status s = encoder_.send(&frame, written_); !s.ok()) return s;
        std::vector<uint8_t> bytes;
        for (;;) {
            const int r = encoder_.receive(packet_);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
            if (r < 0)
                return Status::fail("cannot encode " + files_.back()->target() + " (" + libraryDetail(r) +
                                    ")");
            bytes.insert(bytes.end(), packet_->data, packet_->data + packet_->size);
            av_packet_unref(packet_);
        }
        if (bytes.empty())
            return Status::fail("cannot encode " + files_.back()->target() + ": the encoder gave nothing");
        const PendingFile& file = *files_.back();
        FILE* f = std::fopen(file.temp().c_str(), "wb");
        const bool ok = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        if ((f != nullptr && std::fclose(f) != 0) || !ok)
            return Status::fail("cannot write " + file.target() + ": " + std::strerror(errno));
        ++written_;
        return {};
    }

    Status finish() override {
        for (auto& file : files_)
            if (Status s = file->commit(overwrite_); !s.ok()) return s;
        return {};
    }

    std::string destination() const override {
        if (!sequence_ || files_.empty()) return path_;
        if (files_.size() == 1) return files_.front()->target();
        return files_.front()->target() + " ... " + files_.back()->target();
    }

private:
    Status reserve(const std::string& name) {
        files_.push_back(std::make_unique<PendingFile>());
        return files_.back()->create(name, overwrite_);
    }

    std::string path_;
    bool sequence_, overwrite_;
    FrameEncoder encoder_;
    AVPacket* packet_ = nullptr;
    std::vector<std::unique_ptr<PendingFile>> files_;
    int64_t written_ = 0;
};

class VideoWriter final : public Writer {
public:
    explicit VideoWriter(std::string path, bool overwrite) : path_(std::move(path)), overwrite_(overwrite) {}

    ~VideoWriter() override {
        if (format_ != nullptr) {
            if (format_->pb != nullptr) avio_closep(&format_->pb);
            avformat_free_context(format_);
        }
        av_packet_free(&packet_);
    }

    Status open(const WriterSettings& settings) {
        if (Status s = file_.create(path_, overwrite_); !s.ok()) return s;  // fail early if the name is taken
        const AVOutputFormat* muxer = av_guess_format(nullptr, path_.c_str(), nullptr);
        int r = avformat_alloc_output_context2(&format_, muxer, nullptr, path_.c_str());
        packet_ = av_packet_alloc();
        if (r < 0 || format_ == nullptr || packet_ == nullptr)
            return Status::fail("cannot write " + path_ + " (" + libraryDetail(r) + ")");
        // Lossless FFV1 wherever the container takes it; else the container's own codec.
        const bool ffv1 = avformat_query_codec(muxer, AV_CODEC_ID_FFV1, FF_COMPLIANCE_NORMAL) == 1;
        const AVCodecID id = ffv1 ? AV_CODEC_ID_FFV1 : muxer->video_codec;
        const AVCodec* codec = avcodec_find_encoder(id);
        if (codec == nullptr)
            return Status::fail(path_ + ": this FFmpeg has no encoder for " + avcodec_get_name(id) +
                                " video");
        AVDictionary* options = nullptr;
        if (ffv1) {
            // Version 3 with a checksum per slice, so damage is found when read back.
            av_dict_set(&options, "level", "3", 0);
            av_dict_set(&options, "slicecrc", "1", 0);
        }
        Status s =
            encoder_.open(codec, settings, (muxer->flags & AVFMT_GLOBALHEADER) != 0, false, &options, path_);
        av_dict_free(&options);
        if (!s.ok()) return s;

        stream_ = avformat_new_stream(format_, nullptr);
        if (stream_ == nullptr) return Status::fail("out of memory");
        avcodec_parameters_from_context(stream_->codecpar, encoder_.context());
        stream_->time_base = encoder_.context()->time_base;
        stream_->avg_frame_rate = encoder_.context()->framerate;

        r = avio_open(&format_->pb, file_.temp().c_str(), AVIO_FLAG_WRITE);
        if (r < 0) return Status::fail("cannot write " + path_ + " (" + libraryDetail(r) + ")");
        r = avformat_write_header(format_, nullptr);
        if (r < 0) return Status::fail("cannot write " + path_ + " (" + libraryDetail(r) + ")");
        return {};
    }

    Status write(const FrameBuffer& frame, int64_t) override {
        if (Status s = encoder_.send(&frame, pts_++); !s.ok()) return s;
        return drain();
    }

    Status finish() override {
        if (Status s = encoder_.send(nullptr, 0); !s.ok()) return s;
        if (Status s = drain(); !s.ok()) return s;
        int r = av_write_trailer(format_);
        if (r < 0) return Status::fail("cannot finish " + path_ + " (" + libraryDetail(r) + ")");
        r = avio_closep(&format_->pb);
        if (r < 0) return Status::fail("cannot write " + path_ + " (" + libraryDetail(r) + ")");
        return file_.commit(overwrite_);
    }

    std::string destination() const override { return path_; }

private:
    Status drain() {
        for (;;) {
            int r = encoder_.receive(packet_);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return {};
            if (r < 0) return Status::fail("cannot encode " + path_ + " (" + libraryDetail(r) + ")");
            if (packet_->duration == 0)
                packet_->duration = 1;  // one frame: the container then knows the length
            av_packet_rescale_ts(packet_, encoder_.context()->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            r = av_interleaved_write_frame(format_, packet_);  // takes the packet's data
            if (r < 0) return Status::fail("cannot write " + path_ + " (" + libraryDetail(r) + ")");
        }
    }

    std::string path_;
    bool overwrite_;
    PendingFile file_;
    FrameEncoder encoder_;
    AVFormatContext* format_ = nullptr;
    AVStream* stream_ = nullptr;
    AVPacket* packet_ = nullptr;
    int64_t pts_ = 0;
};

}  // namespace

Status classifyOutput(const std::string& path, OutputKind& kind) {
    std::string probe;
    if (path.find('%') != std::string::npos && expandPattern(path, 0, probe)) {
        if (!hasImageExtension(path))
            return Status::fail(path + ": a numbered sequence needs a picture type (name_%04d.png)");
        kind = OutputKind::Sequence;
        return {};
    }
    if (hasImageExtension(path)) {
        kind = OutputKind::Image;
        return {};
    }
    const AVOutputFormat* muxer = av_guess_format(nullptr, path.c_str(), nullptr);
    if (muxer == nullptr)
        return Status::fail("cannot tell a file type from the name " + path +
                            "; end it in .png, .mkv, .mp4 ... or give a sequence pattern (name_%04d.png)");
    if (muxer->video_codec == AV_CODEC_ID_NONE)
        return Status::fail(path + ": the " + muxer->name + " format cannot hold video");
    kind = OutputKind::Video;
    return {};
}

Status openWriter(OutputKind kind, const std::string& path, const WriterSettings& settings,
                  std::unique_ptr<Writer>& writer) {
    switch (kind) {
    case OutputKind::Null: writer = std::make_unique<NullWriter>(); return {};
    case OutputKind::Image:
    case OutputKind::Sequence: {
        auto w = std::make_unique<ImageWriter>(path, kind == OutputKind::Sequence, settings.overwrite);
        if (Status s = w->open(settings); !s.ok()) return s;
        writer = std::move(w);
        return {};
    }
    case OutputKind::Video: {
        auto w = std::make_unique<VideoWriter>(path, settings.overwrite);
        if (Status s = w->open(settings); !s.ok()) return s;
        writer = std::move(w);
        return {};
    }
    }
    return Status::fail("unknown output kind");
}
