// A video in the container the name's extension picks: lossless FFV1 where
// the container takes it (.mkv, .avi ...), else the container's own codec.
#include <algorithm>

#include "av_support.h"
#include "output/encoder.h"
#include "output/writers.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

class VideoWriter final : public Writer {
public:
    VideoWriter(std::string path, bool overwrite) : path_(std::move(path)), overwrite_(overwrite) {}

    ~VideoWriter() override {
        if (format_ != nullptr) {
            if (format_->pb != nullptr) avio_closep(&format_->pb);
            avformat_free_context(format_);
        }
        av_packet_free(&packet_);
    }

    Status open(const WriterSettings& settings);

    Status write(const FrameBuffer& frame, int64_t) override {
        if (Status s = encoder_.send(&frame, pts_++); !s.ok()) return s;
        return drain();
    }

    Status writeTimed(const FrameBuffer& frame, int64_t, int64_t pts) override {
        // A container of one frame rate gets the source's times on its grid, still rising.
        if (sourceTimeBase_.num > 0) pts = av_rescale_q(pts, sourceTimeBase_, encoder_.context()->time_base);
        pts = std::max(pts, lastPts_ + 1);
        lastPts_ = pts;
        if (Status s = encoder_.send(&frame, pts); !s.ok()) return s;
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
    Status drain();

    std::string path_;
    bool overwrite_;
    PendingFile file_;
    FrameEncoder encoder_;
    AVFormatContext* format_ = nullptr;
    AVStream* stream_ = nullptr;
    AVPacket* packet_ = nullptr;
    int64_t pts_ = 0;
    int64_t lastPts_ = INT64_MIN / 2;
    AVRational sourceTimeBase_ = {0, 1};  // set when the container keeps one frame rate
};

Status VideoWriter::open(const WriterSettings& settings) {
    // Picture types have a muxer too, but it writes one file per frame.
    const AVOutputFormat* muxer = av_guess_format(nullptr, path_.c_str(), nullptr);
    if (muxer == nullptr || hasImageExtension(path_))
        return Status::fail(path_ + ": not a video container FFmpeg writes (.mkv, .avi, .mp4 ...)");
    if (Status s = file_.create(path_, overwrite_); !s.ok()) return s;  // fail early if the name is taken
    int r = avformat_alloc_output_context2(&format_, muxer, nullptr, path_.c_str());
    if (r < 0 || format_ == nullptr)
        return Status::fail("cannot set up the " + std::string(muxer->name) + " container for " + path_ +
                            " (" + libraryDetail(r) + ")");
    packet_ = av_packet_alloc();
    if (packet_ == nullptr) return Status::fail("out of memory for the packets of " + path_);
    // Lossless FFV1 wherever the container takes it; else the container's own codec.
    const bool ffv1 = avformat_query_codec(muxer, AV_CODEC_ID_FFV1, FF_COMPLIANCE_NORMAL) == 1;
    const AVCodecID id = ffv1 ? AV_CODEC_ID_FFV1 : muxer->video_codec;
    const AVCodec* codec = avcodec_find_encoder(id);
    if (codec == nullptr)
        return Status::fail(path_ + ": this FFmpeg has no encoder for " + avcodec_get_name(id) + " video");
    AVDictionary* options = nullptr;
    if (ffv1) {
        // Version 3 with a checksum per slice, so damage is found when read back.
        if (av_dict_set(&options, "level", "3", 0) < 0 || av_dict_set(&options, "slicecrc", "1", 0) < 0) {
            av_dict_free(&options);
            return Status::fail("out of memory for the FFV1 options of " + path_);
        }
    }
    WriterSettings timing = settings;
    if ((muxer->flags & AVFMT_VARIABLE_FPS) == 0 && settings.timeBase.num > 0) {
        sourceTimeBase_ = {settings.timeBase.num, settings.timeBase.den};
        timing.timeBase = {};
    }
    Status s = encoder_.open(codec, timing, (muxer->flags & AVFMT_GLOBALHEADER) != 0, false, &options, path_);
    av_dict_free(&options);
    if (!s.ok()) return s;

    stream_ = avformat_new_stream(format_, nullptr);
    if (stream_ == nullptr) return Status::fail("out of memory for the video stream of " + path_);
    r = avcodec_parameters_from_context(stream_->codecpar, encoder_.context());
    if (r < 0)
        return Status::fail("cannot pass the encoder's parameters to the container of " + path_ + " (" +
                            libraryDetail(r) + ")");
    stream_->time_base = encoder_.context()->time_base;
    stream_->avg_frame_rate = encoder_.context()->framerate;
    stream_->sample_aspect_ratio = encoder_.context()->sample_aspect_ratio;

    r = avio_open(&format_->pb, file_.temp().c_str(), AVIO_FLAG_WRITE);
    if (r < 0) return Status::fail("cannot write " + path_ + " (" + libraryDetail(r) + ")");
    r = avformat_write_header(format_, nullptr);
    if (r < 0) return Status::fail("cannot write the header of " + path_ + " (" + libraryDetail(r) + ")");
    return {};
}

Status VideoWriter::drain() {
    for (;;) {
        int r = encoder_.receive(packet_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return {};
        if (r < 0) return Status::fail("cannot encode " + path_ + " (" + libraryDetail(r) + ")");
        if (packet_->duration == 0) {  // one frame: the container then knows the length
            const AVCodecContext* c = encoder_.context();
            packet_->duration = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(c->framerate), c->time_base));
        }
        av_packet_rescale_ts(packet_, encoder_.context()->time_base, stream_->time_base);
        packet_->stream_index = stream_->index;
        r = av_interleaved_write_frame(format_, packet_);  // takes the packet's data
        if (r < 0) return Status::fail("cannot write " + path_ + " (" + libraryDetail(r) + ")");
    }
}

}  // namespace

Status claimsVideo(const std::string& path, bool& claimed) {
    const AVOutputFormat* muxer = av_guess_format(nullptr, path.c_str(), nullptr);
    claimed = muxer != nullptr;
    if (claimed && muxer->video_codec == AV_CODEC_ID_NONE)
        return Status::fail(path + ": the " + muxer->name + " format cannot hold video");
    return {};
}

Status openVideoWriter(const std::string& path, const WriterSettings& settings,
                       std::unique_ptr<Writer>& writer) {
    auto w = std::make_unique<VideoWriter>(path, settings.overwrite);
    if (Status s = w->open(settings); !s.ok()) return s;
    writer = std::move(w);
    return {};
}
