// Files FFmpeg's libraries decode: stills, image sequences and video.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "av_support.h"
#include "input/readers.h"
#include "signals.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

// A demuxer that keeps failing without handing over a packet is not going
// to recover; give up after this many errors in a row.
constexpr int kMaxReadErrorsInARow = 32;
constexpr double kMinutesPerHour = 60.0;
constexpr double kSecondsPerMinute = 60.0;

bool isStillFormat(const AVInputFormat* fmt, const std::string& path) {
    const std::string_view name = fmt->name;
    const bool imageDemuxer = name == "image2" || name.ends_with("_pipe");
    // image2 reads a numbered sequence when the name holds a pattern.
    return imageDemuxer && path.find('%') == std::string::npos;
}

int swsColourspace(const AVFrame& f) {
    if (f.colorspace != AVCOL_SPC_UNSPECIFIED && f.colorspace != AVCOL_SPC_RGB) return f.colorspace;
    return f.height > kLargestSdHeight ? SWS_CS_ITU709 : SWS_CS_ITU601;
}

// Where the container says the stream ends, in seconds from the file's
// zero, or < 0 when it says nothing worth trusting (an estimate from the bit
// rate is not).
double statedEndSeconds(const AVFormatContext& fmt, const AVStream& stream) {
    if (fmt.duration_estimation_method == AVFMT_DURATION_FROM_BITRATE) return -1.0;
    const double tb = av_q2d(stream.time_base);
    if (stream.duration != AV_NOPTS_VALUE && stream.duration > 0) {
        const int64_t start = stream.start_time != AV_NOPTS_VALUE ? stream.start_time : 0;
        return static_cast<double>(start + stream.duration) * tb;
    }
    // Matroska keeps each stream's end time in a tag, "HH:MM:SS.nnnnnnnnn".
    if (const AVDictionaryEntry* tag = av_dict_get(stream.metadata, "DURATION", nullptr, 0)) {
        int hours = 0, minutes = 0;
        double seconds = 0.0;
        if (std::sscanf(tag->value, "%d:%d:%lf", &hours, &minutes, &seconds) == 3)
            return (hours * kMinutesPerHour + minutes) * kSecondsPerMinute + seconds;
    }
    // The whole file's length is the stream's only when there is nothing else.
    if (fmt.nb_streams == 1 && fmt.duration != AV_NOPTS_VALUE && fmt.duration > 0) {
        const int64_t start = fmt.start_time != AV_NOPTS_VALUE ? fmt.start_time : 0;
        return static_cast<double>(start + fmt.duration) / AV_TIME_BASE;
    }
    return -1.0;
}

class MediaReader final : public Reader {
public:
    ~MediaReader() override {
        sws_freeContext(sws_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&codec_);
        avformat_close_input(&format_);
    }

    Status open(const std::string& path, const StartPoint& start, int threads);
    Status read(FrameBuffer& frame, ReadFrame& meta) override;

private:
    enum class Next { Frame, End, Corrupt, CutShort };
    struct Step {
        Next next = Next::End;
        std::string problem;  // what is wrong with a damaged frame, or an early end
    };
    // Decodes the next frame into frame_.
    Status decodeNext(Step& step);
    // At the end: "" when the frames reached the length the file states, else how they fell short.
    std::string shortfall() const;
    Status convert(FrameBuffer& out, int64_t number);

    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    SwsContext* sws_ = nullptr;
    // What sws_ was last set up for: format, YUV matrix, range.
    int swsFormat_ = AV_PIX_FMT_NONE, swsColourspace_ = -1, swsRange_ = -1;
    int stream_ = -1;
    bool draining_ = false, ended_ = false;
    int readErrorsInARow_ = 0;
    int64_t seenDecoderErrors_ = 0;
    int64_t nextNumber_ = 0;  // number of the next frame decoded
    // Timing, in stream time-base ticks.
    int64_t firstPts_ = 0;      // the stream's start
    double frameTicks_ = 0.0;   // one frame
    double reachedEnd_ = -1.0;  // the end of the latest frame handed to the decoder
    double statedEnd_ = -1.0;   // where the file says the stream ends, if it does
    // Positioning: frames to drop by count, or by time.
    int64_t dropFrames_ = 0;
    bool dropByTime_ = false;
    int64_t startPts_ = 0;  // the first pts to keep
};

Status MediaReader::open(const std::string& path, const StartPoint& start, int threads) {
    info_.name = path;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return Status::fail(path + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) return Status::fail(path + ": is a directory, not a picture or video");

    // A terminating signal ends a read that blocks (a FIFO without a writer, a stalled pipe).
    format_ = avformat_alloc_context();
    if (format_ == nullptr) return Status::fail(path + ": out of memory for its demuxer");
    format_->interrupt_callback = {interruptRequested, nullptr};

    int r = avformat_open_input(&format_, path.c_str(), nullptr, nullptr);
    if (r == AVERROR(EACCES) || r == AVERROR(ENOENT)) return Status::fail(path + ": " + avErrorText(r));
    if (r < 0)
        return Status::fail(path + ": not a picture or video format FFmpeg can read (" + libraryDetail(r) +
                            ")");
    r = avformat_find_stream_info(format_, nullptr);
    if (r < 0) return Status::fail(path + ": cannot read its streams (" + libraryDetail(r) + ")");

    const AVCodec* decoder = nullptr;
    stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (stream_ == AVERROR_STREAM_NOT_FOUND) return Status::fail(path + ": holds no picture or video stream");
    const AVStream* stream = stream_ >= 0 ? format_->streams[stream_] : nullptr;
    if (stream_ < 0 || decoder == nullptr) {
        const AVCodecID id = stream != nullptr ? stream->codecpar->codec_id : AV_CODEC_ID_NONE;
        return Status::fail(path + ": this FFmpeg has no decoder for its video (" +
                            std::string(id != AV_CODEC_ID_NONE ? avcodec_get_name(id) : "unknown codec") +
                            ")");
    }
    codec_ = avcodec_alloc_context3(decoder);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (codec_ == nullptr || packet_ == nullptr || frame_ == nullptr)
        return Status::fail(path + ": out of memory for its decoder");
    r = avcodec_parameters_to_context(codec_, stream->codecpar);
    if (r < 0)
        return Status::fail(path + ": cannot pass the stream's parameters to its decoder (" +
                            libraryDetail(r) + ")");
    codec_->pkt_timebase = stream->time_base;
    // Damage is to be reported, not concealed: check what can be checked.
    codec_->err_recognition = AV_EF_CRCCHECK | AV_EF_BITSTREAM | AV_EF_BUFFER;
    // Slice threads only: frame threads would decode ahead, and a logged
    // error could no longer be pinned on the frame it belongs to.
    codec_->thread_count = threads;  // 0: as many as the machine has
    codec_->thread_type = FF_THREAD_SLICE;
    r = avcodec_open2(codec_, decoder, nullptr);
    if (r < 0)
        return Status::fail(path + ": cannot open its " + decoder->name + " decoder (" + libraryDetail(r) +
                            ")");
    seenDecoderErrors_ = decoderErrorCount();

    info_.w = codec_->width;
    info_.h = codec_->height;
    if (info_.w <= 0 || info_.h <= 0) return Status::fail(path + ": the stream does not say its frame size");
    info_.still = isStillFormat(format_->iformat, path);
    const AVRational rate = av_guess_frame_rate(format_, format_->streams[stream_], nullptr);
    if (!info_.still && rate.num > 0 && rate.den > 0) info_.frameRate = {rate.num, rate.den};
    const double fps = static_cast<double>(info_.frameRate.num) / info_.frameRate.den;

    if (info_.still) {
        info_.frameCount = 1;
        if (!start.atBeginning())
            return Status::fail(path + " is a still picture: -ss " + start.text +
                                " is past its only frame");
        return {};
    }
    const double tb = av_q2d(stream->time_base);
    firstPts_ = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    frameTicks_ = 1.0 / (fps * tb);
    const double statedEnd = statedEndSeconds(*format_, *stream);
    if (statedEnd > 0.0) statedEnd_ = statedEnd / tb;
    if (statedEnd > 0.0) info_.seconds = statedEnd - static_cast<double>(firstPts_) * tb;

    // How many frames from the start on, as far as the container says.
    int64_t total = stream->nb_frames > 0 ? stream->nb_frames : -1;
    if (total < 0 && statedEnd_ > static_cast<double>(firstPts_))
        total = std::llround((statedEnd_ - static_cast<double>(firstPts_)) / frameTicks_);
    const int64_t skipped = start.isTime ? std::llround(start.seconds * fps) : start.frame;
    info_.frameCount = total < 0 ? -1 : std::max<int64_t>(0, total - skipped);

    if (!start.isTime) {
        dropFrames_ = start.frame;
        return {};
    }
    if (start.seconds <= 0.0) return {};
    // Seek to the key frame at or before the time, then drop what precedes it.
    startPts_ = firstPts_ + std::llround(start.seconds / tb);
    dropByTime_ = true;
    // Where seeking fails, decoding starts at the beginning and drops by time all the same.
    if (av_seek_frame(format_, stream_, startPts_, AVSEEK_FLAG_BACKWARD) >= 0) avcodec_flush_buffers(codec_);
    return {};
}

std::string MediaReader::shortfall() const {
    if (statedEnd_ < 0.0 || reachedEnd_ < 0.0) return {};
    // Up to half a frame of rounding between the stated length and the timestamps.
    constexpr double kSlackFrames = 0.5;
    if (reachedEnd_ + kSlackFrames * frameTicks_ >= statedEnd_) return {};
    const double tb = av_q2d(format_->streams[stream_]->time_base);
    char text[160];
    std::snprintf(text, sizeof text,
                  "the file stops at %.2f s, short of the %.2f s it states: it is cut short",
                  reachedEnd_ * tb, statedEnd_ * tb);
    return text;
}

Status MediaReader::decodeNext(Step& step) {
    for (;;) {
        int r = avcodec_receive_frame(codec_, frame_);
        if (r == 0) {
            const int64_t errors = decoderErrorCount();
            const bool concealed = errors != seenDecoderErrors_;
            seenDecoderErrors_ = errors;
            if (concealed || (frame_->flags & AV_FRAME_FLAG_CORRUPT) != 0 ||
                frame_->decode_error_flags != 0) {
                const std::string logged = takeLibraryMessage();
                step.problem = "frame " + std::to_string(nextNumber_) + " is damaged" +
                               (logged.empty() ? "" : " (" + logged + ")");
                step.next = Next::Corrupt;
                return {};
            }
            step.next = Next::Frame;
            return {};
        }
        if (r == AVERROR_EOF) {
            if (!ended_) step.problem = shortfall();
            step.next = step.problem.empty() ? Next::End : Next::CutShort;
            ended_ = true;
            return {};
        }
        if (r != AVERROR(EAGAIN)) {
            step.problem =
                "cannot decode frame " + std::to_string(nextNumber_) + " (" + libraryDetail(r) + ")";
            step.next = Next::Corrupt;
            return {};
        }
        if (draining_) {  // a decoder that wants more after the end: nothing left
            step.next = Next::End;
            return {};
        }
        r = av_read_frame(format_, packet_);
        if (r == AVERROR_EOF) {
            draining_ = true;
            r = avcodec_send_packet(codec_, nullptr);
            if (r < 0 && r != AVERROR_EOF)
                return Status::fail(info_.name + ": cannot drain the decoder at the end (" +
                                    libraryDetail(r) + ")");
            continue;
        }
        if (r < 0) {
            if (++readErrorsInARow_ > kMaxReadErrorsInARow)
                return Status::fail(info_.name + ": unreadable after frame " + std::to_string(nextNumber_) +
                                    " (" + libraryDetail(r) + ")");
            step.problem =
                "damaged data after frame " + std::to_string(nextNumber_) + " (" + libraryDetail(r) + ")";
            step.next = Next::Corrupt;
            return {};
        }
        readErrorsInARow_ = 0;
        if (packet_->stream_index != stream_) {
            av_packet_unref(packet_);
            continue;
        }
        if ((packet_->flags & AV_PKT_FLAG_CORRUPT) != 0) {
            // Truncated or flagged by the demuxer: never hand it to the decoder.
            av_packet_unref(packet_);
            step.problem = "frame " + std::to_string(nextNumber_) + " is incomplete or damaged in the file";
            step.next = Next::Corrupt;
            return {};
        }
        // Where this frame ends: its own duration, when the file gives one,
        // is surer than a frame rate guessed from a damaged file.
        const int64_t pts = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
        const double ends =
            pts == AV_NOPTS_VALUE
                ? -1.0
                : static_cast<double>(pts) +
                      (packet_->duration > 0 ? static_cast<double>(packet_->duration) : frameTicks_);
        r = avcodec_send_packet(codec_, packet_);
        av_packet_unref(packet_);
        reachedEnd_ = std::max(reachedEnd_, ends);
        if (r < 0 && r != AVERROR(EAGAIN)) {
            step.problem =
                "cannot decode frame " + std::to_string(nextNumber_) + " (" + libraryDetail(r) + ")";
            seenDecoderErrors_ = decoderErrorCount();  // the message belongs to this failure
            step.next = Next::Corrupt;
            return {};
        }
    }
}

Status MediaReader::read(FrameBuffer& frame, ReadFrame& meta) {
    meta = {};
    for (;;) {
        Step step;
        if (Status s = decodeNext(step); !s.ok()) return s;
        const Next next = step.next;
        const std::string& problem = step.problem;
        if (next == Next::End || next == Next::CutShort) {
            meta.end = true;
            meta.cutShort = next == Next::CutShort;
            if (meta.cutShort) meta.problem = info_.name + ": " + problem;
            return {};
        }
        int64_t number = nextNumber_++;
        bool keep = true;
        if (dropFrames_ > 0) {
            --dropFrames_;
            keep = false;
        } else if (dropByTime_ && next == Next::Frame) {
            const int64_t pts = frame_->best_effort_timestamp;
            if (pts != AV_NOPTS_VALUE) {
                // Timestamps are rounded: the wanted frame may sit up to half a frame early.
                keep = static_cast<double>(pts) >= static_cast<double>(startPts_) - frameTicks_ / 2;
                // After a seek the count restarts; the timestamps know the number.
                number = std::llround(static_cast<double>(pts - firstPts_) / frameTicks_);
                nextNumber_ = number + 1;
            }
            if (keep) dropByTime_ = false;
        } else if (dropByTime_) {
            keep = false;  // a damaged frame before the start point
        }
        if (!keep) {
            av_frame_unref(frame_);
            continue;
        }
        meta.number = number;
        if (next == Next::Corrupt) {
            meta.corrupt = true;
            meta.problem = info_.name + ": " + problem;
            av_frame_unref(frame_);
            return {};
        }
        Status s = convert(frame, number);
        av_frame_unref(frame_);
        return s;
    }
}

Status MediaReader::convert(FrameBuffer& out, int64_t number) {
    const AVFrame& f = *frame_;
    if (f.width != info_.w || f.height != info_.h)
        return Status::fail(info_.name + ": the frame size changes from " + std::to_string(info_.w) + "x" +
                            std::to_string(info_.h) + " to " + std::to_string(f.width) + "x" +
                            std::to_string(f.height) + " at frame " + std::to_string(number) +
                            "; kivrel needs one size throughout");
    const AVPixelFormat fmt = static_cast<AVPixelFormat>(f.format);
    const int colourspace = swsColourspace(f);
    const int fullRangeIn = f.color_range == AVCOL_RANGE_JPEG ? 1 : 0;
    if (sws_ == nullptr || fmt != swsFormat_ || colourspace != swsColourspace_ || fullRangeIn != swsRange_) {
        sws_freeContext(sws_);
        sws_ = sws_getContext(f.width, f.height, fmt, out.w(), out.h(), kHostPixelFormat, swsFlags(), nullptr,
                              nullptr, nullptr);
        const char* fmtName = av_get_pix_fmt_name(fmt);
        if (sws_ == nullptr)
            return Status::fail(info_.name + ": cannot convert its pixel format " +
                                std::string(fmtName != nullptr ? fmtName : "(unknown)") + " to RGB");
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(fmt);
        if (desc != nullptr && (desc->flags & AV_PIX_FMT_FLAG_RGB) == 0) {
            // The stream's own YUV matrix and range, to full-range RGB.
            constexpr int kNoBrightness = 0, kUnitContrast = 1 << 16, kUnitSaturation = 1 << 16;
            if (sws_setColorspaceDetails(sws_, sws_getCoefficients(colourspace), fullRangeIn,
                                         sws_getCoefficients(SWS_CS_DEFAULT), 1, kNoBrightness, kUnitContrast,
                                         kUnitSaturation) < 0)
                return Status::fail(info_.name + ": the converter cannot take its YUV matrix and range (" +
                                    std::string(fmtName != nullptr ? fmtName : "(unknown)") + " to RGB)");
        }
        swsFormat_ = fmt;
        swsColourspace_ = colourspace;
        swsRange_ = fullRangeIn;
    }
    uint8_t* dst[4] = {out.topRowBytes(), nullptr, nullptr, nullptr};
    const int dstStride[4] = {out.topDownStride(), 0, 0, 0};
    if (sws_scale(sws_, f.data, f.linesize, 0, f.height, dst, dstStride) != out.h())
        return Status::fail(info_.name + ": converting frame " + std::to_string(number) + " to RGB failed");
    out.clearTopBytes();
    return {};
}

}  // namespace

Status openMediaReader(const ReaderParams& params, std::unique_ptr<Reader>& reader) {
    auto media = std::make_unique<MediaReader>();
    if (Status s = media->open(params.path, params.start, params.threads); !s.ok()) return s;
    reader = std::move(media);
    return {};
}
