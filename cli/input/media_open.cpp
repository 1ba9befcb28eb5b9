// Opening a file and finding where to start in it: the demuxer and the
// decoder, the stream's facts, a seek to -ss and the checks after it.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "input/file_end.h"
#include "input/media_reader.h"
#include "input/media_stream.h"
#include "input/readers.h"
#include "input/rotation.h"
#include "os/av_support.h"
#include "os/capture_devices.h"

namespace {

// A seek that lands after the frame a start time wants goes back this
// much further, then twice that, and so on, until it reaches the start.
constexpr double kFirstSeekBackSeconds = 1.0;

}  // namespace

Status MediaReader::open(const ReaderParams& params, bool frameThreads) {
    const StartPoint& start = params.start;
    overrides_ = params.levels;
    // "-" is standard input; everything else goes to FFmpeg as it is: a
    // pattern, a FIFO, a protocol. A name that is there says what is wrong with it.
    const std::string url = params.path == "-" ? "pipe:0" : params.path;
    const std::string path = params.path == "-" || params.path == "pipe:" ? "standard input" : params.path;
    info_.name = path;
    struct stat st {};
    if (::stat(url.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return Status::fail(path + ": is a directory, not a picture or video");
        if (S_ISREG(st.st_mode) && st.st_size == 0) return Status::fail(path + ": is an empty file");
    }
    AVDictionary* demuxerOptions = nullptr;
    if (params.startNumber &&
        av_dict_set(&demuxerOptions, "start_number", std::to_string(*params.startNumber).c_str(), 0) < 0)
        return Status::fail(path + ": out of memory for its options");
    for (const DemuxerOption& o : params.demuxerOptions)
        if (av_dict_set(&demuxerOptions, o.key.c_str(), o.value.c_str(), 0) < 0) {
            av_dict_free(&demuxerOptions);
            return Status::fail(path + ": out of memory for its options");
        }
    // A terminating signal ends a read that blocks (a FIFO without a writer, a stalled pipe).
    format_ = avformat_alloc_context();
    if (format_ == nullptr) {
        av_dict_free(&demuxerOptions);
        return Status::fail(path + ": out of memory for its demuxer");
    }
    format_->interrupt_callback = {interrupted, this};
    const AVInputFormat* demuxer = nullptr;
    if (!params.inputFormat.empty()) {
        demuxer = av_find_input_format(params.inputFormat.c_str());
        if (demuxer == nullptr) {
            const std::string devices = loadCaptureDevices();
            if (devices.empty()) demuxer = av_find_input_format(params.inputFormat.c_str());
            if (demuxer == nullptr) {
                av_dict_free(&demuxerOptions);
                if (!devices.empty()) return Status::fail(params.inputFormat + ": " + devices);
                return Status::usage(params.inputFormat +
                                     ": FFmpeg has no input format or capture device of that name");
            }
        }
    }
    int r = avformat_open_input(&format_, url.c_str(), demuxer, &demuxerOptions);
    // What the demuxer left is what it does not take: never dropped without a word.
    const DemuxerOption* unused = nullptr;
    for (const DemuxerOption& o : params.demuxerOptions)
        if (unused == nullptr && av_dict_get(demuxerOptions, o.key.c_str(), nullptr, 0) != nullptr)
            unused = &o;
    av_dict_free(&demuxerOptions);
    if (r >= 0 && unused != nullptr)
        return Status::usage(path + ": " + unused->shown + " before -i is for a demuxer that takes " +
                             unused->key + " (-f rawvideo ...), and " + format_->iformat->name + " does not");
    if (r == AVERROR(EACCES) || r == AVERROR(ENOENT)) return Status::fail(path + ": " + avErrorText(r));
    if (r < 0)
        return Status::fail(path + ": not a picture or video format FFmpeg can read (" + libraryDetail(r) +
                            ")");
    r = avformat_find_stream_info(format_, nullptr);
    if (r < 0) return Status::fail(path + ": cannot read its streams (" + libraryDetail(r) + ")");
    info_.live = isLive(*format_, url);
    if (std::strcmp(format_->iformat->name, "nut") == 0 && S_ISREG(st.st_mode) &&
        !nutEndsWithIndex(url, st.st_size))
        unfinishedSize_ = st.st_size;

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
    info_.codec = avcodec_get_name(stream->codecpar->codec_id);
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
    // Frame threads decode ahead, so an error the decoder only logs could
    // not be pinned on its frame: they run only until damage shows (see
    // lostTrack()); slice threads keep every message on its frame.
    codec_->thread_count = params.threads;  // 0: as many as the machine has
    frameThreads_ = frameThreads && params.threads != 1;
    codec_->thread_type = frameThreads_ ? FF_THREAD_FRAME | FF_THREAD_SLICE : FF_THREAD_SLICE;
    r = avcodec_open2(codec_, decoder, nullptr);
    if (r < 0)
        return Status::fail(path + ": cannot open its " + decoder->name + " decoder (" + libraryDetail(r) +
                            ")");
    seenDecoderErrors_ = decoderErrorCount(codec_);

    if (codec_->width <= 0 || codec_->height <= 0)
        return Status::fail(path + ": the stream does not say its frame size");
    info_.rotation = params.autorotate ? displayRotation(*stream) : 0;
    const Turn turn{info_.rotation, codec_->width, codec_->height};
    info_.w = turn.shownW();
    info_.h = turn.shownH();
    const AVRational sar = av_guess_sample_aspect_ratio(format_, format_->streams[stream_], nullptr);
    if (sar.num > 0 && sar.den > 0)
        info_.sampleAspect = turn.sideways() ? Rational{sar.den, sar.num} : Rational{sar.num, sar.den};
    info_.levels =
        levelsOf(codec_->pix_fmt, codec_->colorspace, codec_->color_range, codec_->height, overrides_);
    placeChroma(codec_->chroma_sample_location, false, info_.levels);
    picture_.levels = info_.levels;
    if (const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(codec_->pix_fmt);
        d != nullptr && (d->flags & AV_PIX_FMT_FLAG_ALPHA) != 0)
        info_.alphaFormat = d->name;
    // The stream's own tag first, as FFmpeg's tools read it, then the container's.
    const AVDictionaryEntry* timecode =
        av_dict_get(format_->streams[stream_]->metadata, "timecode", nullptr, 0);
    if (timecode == nullptr) timecode = av_dict_get(format_->metadata, "timecode", nullptr, 0);
    info_.startTimecode = timecode != nullptr ? timecode->value : "";
    info_.hdrTransfer = codec_->color_trc == AVCOL_TRC_SMPTE2084      ? "PQ"
                        : codec_->color_trc == AVCOL_TRC_ARIB_STD_B67 ? "HLG"
                                                                      : "";
    info_.still = isStillFormat(format_->iformat, path);
    if (info_.still) {
        bool more = false;
        if (Status s = holdsMorePictures(more); !s.ok()) return s;
        info_.still = !more;
    }
    const AVRational rate = av_guess_frame_rate(format_, format_->streams[stream_], nullptr);
    if (!info_.still && rate.num > 0 && rate.den > 0) info_.frameRate = {rate.num, rate.den};
    const double fps = info_.timeline().framesPerSecond();

    if (info_.still) {
        info_.frameCount = 1;
        if (!start.atBeginning()) return startPastStill(path, start);
        return {};
    }
    info_.timeBase = {stream->time_base.num, stream->time_base.den};
    const double tb = av_q2d(stream->time_base);
    firstPts_ = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
    info_.startPts = firstPts_;
    timeline_ = info_.timeline();
    frameTicks_ = timeline_.ticksPerFrame();
    const double statedEnd = statedEndSeconds(*format_, *stream);
    if (statedEnd > 0.0) statedEnd_ = statedEnd / tb;
    if (statedEnd > 0.0) info_.seconds = statedEnd - static_cast<double>(firstPts_) * tb;

    // How many frames from the start on, as far as the container says.
    int64_t total = stream->nb_frames > 0 ? stream->nb_frames : -1;
    if (total < 0 && statedEnd_ > static_cast<double>(firstPts_))
        total = std::llround((statedEnd_ - static_cast<double>(firstPts_)) / frameTicks_);
    const double skipped = start.isTime ? start.seconds * fps : static_cast<double>(start.frame);
    info_.frameCount =
        total < 0 ? -1
                  : static_cast<int64_t>(std::max(0.0, std::round(static_cast<double>(total) - skipped)));
    start_ = start;
    reachedStart_ = start.atBeginning();

    if (!start.isTime) {
        dropFrames_ = start.frame;
        return {};
    }
    if (start.seconds <= 0.0) return {};
    // The first frame at or after the time from the stream's start, as
    // FFmpeg's -ss picks it: seek to the key frame at or before it, then drop
    // what precedes it. Where seeking fails, decoding starts at the
    // beginning and drops by time all the same; a time beyond any timestamp
    // seeks to the last key frame.
    startPts_ = firstPts_ + timeline_.ticksIn(start.seconds);
    dropByTime_ = true;
    seekBack_ = std::max<int64_t>(1, timeline_.ticksIn(kFirstSeekBackSeconds));
    if (params.seek) seekTo(startPts_);
    return {};
}

bool MediaReader::seekTo(int64_t pts) {
    soughtPts_ = pts;
    if (av_seek_frame(format_, stream_, pts, AVSEEK_FLAG_BACKWARD) < 0) return false;
    avcodec_flush_buffers(codec_);
    // Only the stream's very start tells what its first frame's time is.
    if (anchor_ == Anchor::Unknown) anchor_ = Anchor::Settled;
    for (AVPacket*& p : ahead_) av_packet_free(&p);  // from before the seek
    aheadTaken_ = ahead_.size();
    draining_ = ended_ = false;
    seekChecked_ = false;
    return true;
}

bool MediaReader::seekFurtherBack() {
    const int64_t to = std::min(soughtPts_, startPts_) - seekBack_;
    seekBack_ = seekBack_ > Timeline::kFarTicks / 2 ? Timeline::kFarTicks : 2 * seekBack_;
    // Seeking to the very start is not sure to reach it (an MPEG-TS seeks
    // by decoding times, which come before the first frame's): start over.
    if (to > firstPts_ && seekTo(to)) return true;
    startOver_ = true;
    return false;
}

std::string MediaReader::pastTheEnd() const {
    const std::string why = "-ss " + start_.text + " is past the end of " + info_.name;
    if (!start_.isTime)
        return why + ": it holds " + std::to_string(droppedFrames_) + " frame" +
               (droppedFrames_ == 1 ? "" : "s") + ", from 0f";
    char text[64];
    if (lastDroppedPts_ >= 0.0) {
        std::snprintf(text, sizeof text, "%.3f s", timeline_.secondsAt(std::llround(lastDroppedPts_)));
        return why + ": its last frame starts at " + text;
    }
    // Seeking landed after every frame, or on none that decodes.
    std::string lasts;
    if (info_.seconds >= 0.0) {
        std::snprintf(text, sizeof text, " (it lasts %.2f s)", info_.seconds);
        lasts = text;
    }
    return why + ": seeking there found no frame at or after " + start_.text + " s" + lasts;
}

std::string MediaReader::shortfall() const {
    if (unfinishedSize_ > 0)
        return "the file stops before the index every finished NUT file ends with: it is cut short";
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
