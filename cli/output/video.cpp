// A video in the container -f or the name's extension picks: lossless FFV1
// where the container takes it (.mkv, .avi ...), else the container's own
// codec (H.264 4:4:4 for .mp4 where libx264 is there), or -c:v's.
#include <algorithm>
#include <string_view>

#include "os/av_support.h"
#include "output/encoder.h"
#include "output/writer_table.h"
#include "output/writers.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

namespace {

// FFV1's automatic slicing needs at least two pixels each way; narrower
// pictures are written as one slice.
constexpr int32_t kFfv1LeastAutoSlices = 2;
// Pictures one after another in one stream: FFmpeg's muxer of that name.
constexpr std::string_view kImagePipeMuxer = "image2pipe";

const AVOutputFormat* muxerFor(const std::string& path, const WriterSettings& s) {
    if (!s.muxer.empty()) return av_guess_format(s.muxer.c_str(), nullptr, nullptr);
    return av_guess_format(nullptr, path.c_str(), nullptr);
}

bool isImagePipe(const AVOutputFormat* muxer) { return std::string_view(muxer->name) == kImagePipeMuxer; }

Status chooseCodec(const AVOutputFormat* muxer, const WriterSettings& s, const std::string& path,
                   const AVCodec*& codec, bool& ffv1) {
    if (!s.codec.empty()) {
        if (Status st = findVideoEncoder(s.codec, codec); !st.ok()) return st;
        if (avformat_query_codec(muxer, codec->id, FF_COMPLIANCE_NORMAL) == 0)
            return Status::usage(path + ": the " + muxer->name + " container cannot hold " + codec->name +
                                 " video");
        ffv1 = codec->id == AV_CODEC_ID_FFV1;
        return {};
    }
    // The writer table's choice; else lossless FFV1 wherever the container
    // takes it, or the container's own codec.
    const WriterChoice* row = writerForMuxer(muxer->name);
    if (row != nullptr && !row->encoder.empty()) {
        const std::string name(row->encoder);
        codec = avcodec_find_encoder_by_name(name.c_str());
        if (codec == nullptr)
            return Status::fail(path + ": this FFmpeg has no " + name + " encoder, which " + muxer->name +
                                " is written with");
        return {};
    }
    // Pictures one after another are of the type the name gives (x.png: PNG),
    // as FFmpeg picks them; on standard output, the pipe's own default.
    const AVCodecID named = isImagePipe(muxer) ? pictureCodecOf(path) : AV_CODEC_ID_NONE;
    if (named != AV_CODEC_ID_NONE && !hasImageExtension(path))
        return Status::usage(path + ": a container of its own, not a picture type " + muxer->name +
                             " strings together; leave out -f");
    ffv1 =
        named == AV_CODEC_ID_NONE && avformat_query_codec(muxer, AV_CODEC_ID_FFV1, FF_COMPLIANCE_NORMAL) == 1;
    const AVCodecID id = named != AV_CODEC_ID_NONE ? named : ffv1 ? AV_CODEC_ID_FFV1 : muxer->video_codec;
    codec = avcodec_find_encoder(id);
    if (codec == nullptr)
        return Status::fail(path + ": this FFmpeg has no encoder for " + avcodec_get_name(id) + " video");
    return {};
}

class VideoWriter final : public Writer {
public:
    explicit VideoWriter(std::string path) : path_(std::move(path)) {}

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
        ++sent_;
        return drain();
    }

    Status writeTimed(const FrameBuffer& frame, int64_t, int64_t pts) override {
        // A container of one frame rate gets the source's times on its grid, still rising.
        if (sourceTimeBase_.num > 0) pts = av_rescale_q(pts, sourceTimeBase_, encoder_.context()->time_base);
        pts = std::max(pts, lastPts_ + 1);
        lastPts_ = pts;
        if (Status s = encoder_.send(&frame, pts); !s.ok()) return s;
        ++sent_;
        return drain();
    }

    Status finish() override {
        if (Status s = encoder_.send(nullptr, 0); !s.ok()) return s;
        if (Status s = drain(); !s.ok()) return s;
        int r = av_write_trailer(format_);
        if (r < 0) return Status::fail("cannot finish " + path_ + " (" + libraryDetail(r) + ")");
        r = avio_closep(&format_->pb);
        if (r < 0) return Status::fail("cannot write " + path_ + " (" + libraryDetail(r) + ")");
        return file_.commit();
    }

    // The frames encoded so far, in a file that plays: the encoder drained,
    // the container closed.
    Status finishPartial(int64_t& kept) override {
        kept = 0;
        if (!headerWritten_ || sent_ == 0) return {};
        if (Status s = finish(); !s.ok()) return s;
        kept = sent_;
        return {};
    }

    std::string destination() const override { return path_ == kStdoutName ? kStdoutShown : path_; }
    // Frames sit in the encoder's and the container's buffers: only the bytes are sure.
    Sent sent() const override {
        Sent s;
        if (file_.direct() && format_ != nullptr && format_->pb != nullptr)
            s.bytes = format_->pb->bytes_written;
        return s;
    }

private:
    Status drain();

    std::string path_;
    PendingFile file_;
    FrameEncoder encoder_;
    AVFormatContext* format_ = nullptr;
    AVStream* stream_ = nullptr;
    AVPacket* packet_ = nullptr;
    int64_t pts_ = 0;
    int64_t sent_ = 0;  // frames handed to the encoder, whichever way they came
    int64_t lastPts_ = INT64_MIN / 2;
    AVRational sourceTimeBase_ = {0, 1};  // set when the container keeps one frame rate
    bool headerWritten_ = false;
};

Status VideoWriter::open(const WriterSettings& settings) {
    const AVOutputFormat* muxer = muxerFor(path_, settings);
    // Picture types have a muxer too, but it writes one file per frame.
    if (muxer == nullptr || (settings.muxer.empty() && hasImageExtension(path_)))
        return Status::usage(path_ + ": not a video container FFmpeg writes (.mkv, .avi, .mp4 ...)");
    if (Status s = file_.create(path_, settings); !s.ok()) return s;  // fail early if the name is taken
    if (const char* why = streamRefusal(muxer->name); why != nullptr && file_.direct())
        return Status::usage(std::string(why) + ", which " + destination() + " cannot; name a file (-o x." +
                             muxerSuffix(muxer->name).substr(1) + ")");
    int r = avformat_alloc_output_context2(&format_, muxer, nullptr, path_.c_str());
    if (r < 0 || format_ == nullptr)
        return Status::fail("cannot set up the " + std::string(muxer->name) + " container for " + path_ +
                            " (" + libraryDetail(r) + ")");
    packet_ = av_packet_alloc();
    if (packet_ == nullptr) return Status::fail("out of memory for the packets of " + path_);
    const AVCodec* codec = nullptr;
    bool ffv1 = false;
    if (Status s = chooseCodec(muxer, settings, path_, codec, ffv1); !s.ok()) return s;
    AVDictionary* options = nullptr;
    if (ffv1) {
        // Version 3 with a checksum per slice, so damage is found when read back.
        if (av_dict_set(&options, "level", "3", 0) < 0 || av_dict_set(&options, "slicecrc", "1", 0) < 0) {
            av_dict_free(&options);
            return Status::fail("out of memory for the FFV1 options of " + path_);
        }
    }
    if (ffv1 && (settings.w < kFfv1LeastAutoSlices || settings.h < kFfv1LeastAutoSlices) &&
        av_dict_set(&options, "slices", "1", 0) < 0) {
        av_dict_free(&options);
        return Status::fail("out of memory for the FFV1 options of " + path_);
    }
    WriterSettings encoding = settings;
    const WriterChoice* row = writerForMuxer(muxer->name);
    if (encoding.pixelFormat.empty() && settings.codec.empty() && row != nullptr &&
        row->pixelFormat != nullptr)
        encoding.pixelFormat = row->pixelFormat;
    if (settings.codec.empty() && row != nullptr &&
        av_dict_parse_string(&options, row->options, "=", ":", 0) < 0) {
        av_dict_free(&options);
        return Status::fail("out of memory for the encoder options of " + path_);
    }
    // MPEG-1/2 and their kind take only a frame rate's grid, not a container's clock.
    const bool rateGrid = (muxer->flags & AVFMT_VARIABLE_FPS) == 0 || codec->supported_framerates != nullptr;
    if (rateGrid && settings.timeBase.num > 0) {
        sourceTimeBase_ = {settings.timeBase.num, settings.timeBase.den};
        encoding.timeBase = {};
    }
    Status s =
        encoder_.open(codec, encoding, (muxer->flags & AVFMT_GLOBALHEADER) != 0, false, &options, path_);
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

    r = avio_open(&format_->pb, file_.avioPath().c_str(), AVIO_FLAG_WRITE);
    if (r < 0) return Status::fail("cannot write " + path_ + " (" + libraryDetail(r) + ")");
    r = avformat_write_header(format_, nullptr);
    if (r < 0) return Status::fail("cannot write the header of " + path_ + " (" + libraryDetail(r) + ")");
    headerWritten_ = true;
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

Status videoMuxerRefusal(const AVOutputFormat* muxer) {
    const std::string name = muxer->name;
    if (const WriterChoice* row = writerForMuxer(name); row != nullptr && row->refusal != nullptr)
        return Status::usage(row->refusal);
    // Such a muxer opens files of its own by name (a playlist's segments, a
    // manifest's fragments) or a network address: none of them written under
    // a temporary name, so a failure would leave them half made, and no name
    // among them checked before it is replaced.
    if ((muxer->flags & AVFMT_NOFILE) != 0)
        return Status::usage(name +
                             " writes files of its own beside its output (segments, a playlist or a "
                             "manifest), which kivrel does not write; write one file and split it with "
                             "ffmpeg: -f mpegts -o x.ts, then ffmpeg -i x.ts -c copy -f " +
                             name + " ...");
    if (muxer->video_codec != AV_CODEC_ID_NONE) return {};
    if (muxer->audio_codec != AV_CODEC_ID_NONE) return Status::usage(name + " is an audio-only format");
    if (muxer->subtitle_codec != AV_CODEC_ID_NONE) return Status::usage(name + " is a subtitle format");
    return Status::usage(name + " is a data format: it cannot hold video");
}

Status claimsVideo(const std::string& path, bool& claimed) {
    const AVOutputFormat* muxer = av_guess_format(nullptr, path.c_str(), nullptr);
    claimed = muxer != nullptr;
    if (claimed)
        if (Status s = videoMuxerRefusal(muxer); !s.ok()) return Status::usage(path + ": " + s.message());
    return {};
}

Status openVideoWriter(const std::string& path, const WriterSettings& settings,
                       std::unique_ptr<Writer>& writer) {
    auto w = std::make_unique<VideoWriter>(path);
    if (Status s = w->open(settings); !s.ok()) return s;
    writer = std::move(w);
    return {};
}
