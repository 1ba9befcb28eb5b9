// Files FFmpeg's libraries decode: stills, image sequences and video.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "input/file_end.h"
#include "input/readers.h"
#include "os/av_support.h"
#include "os/capture_devices.h"
#include "os/signals.h"
#include "os/slice_workers.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

namespace {

// Protocols whose source runs in real time, whether read or not: what has
// gone by is gone, and there is nothing to seek in.
constexpr const char* kLiveProtocols[] = {"udp", "rtp", "srt", "rtsp", "rtmp", "tcp", "unix"};

bool isLive(const AVFormatContext& format, const std::string& url) {
    const AVClass* kind = format.iformat != nullptr ? format.iformat->priv_class : nullptr;
    if (kind != nullptr && AV_IS_INPUT_DEVICE(kind->category)) return true;
    if (format.iformat != nullptr &&
        std::any_of(std::begin(kLiveProtocols), std::end(kLiveProtocols),
                    [&](const char* p) { return std::strcmp(p, format.iformat->name) == 0; }))
        return true;  // rtp, rtsp: demuxers that do their own networking
    const char* protocol = avio_find_protocol_name(url.c_str());
    if (protocol == nullptr) return false;
    return std::any_of(std::begin(kLiveProtocols), std::end(kLiveProtocols),
                       [&](const char* p) { return std::strcmp(p, protocol) == 0; });
}

// A demuxer that keeps failing without handing over a packet is not going
// to recover; give up after this many errors in a row.
constexpr int kMaxReadErrorsInARow = 32;
constexpr double kMinutesPerHour = 60.0;
constexpr double kSecondsPerMinute = 60.0;
// A seek that lands after the frame a start time wants goes back this
// much further, then twice that, and so on, until it reaches the start.
constexpr double kFirstSeekBackSeconds = 1.0;

// Y4M's frames lie back to back, each of one size, and its demuxer drops a
// frame the input ends inside without a word: bytes read past the last
// whole frame tell. (The raw demuxer hands such a frame on, flagged.)
constexpr const char* kY4mDemuxer = "yuv4mpegpipe";

bool isStillFormat(const AVInputFormat* fmt, const std::string& path) {
    const std::string_view name = fmt->name;
    const bool imageDemuxer = name == "image2" || name.ends_with("_pipe");
    // image2 reads a numbered sequence when the name holds a pattern.
    return imageDemuxer && path.find('%') == std::string::npos;
}

constexpr int kQuarterTurn = 90, kHalfTurn = 180, kThreeQuarterTurn = 270;

// Degrees clockwise (0, 90, 180 or 270) players turn the picture by, as the
// stream's display matrix says; 0 without one.
int displayRotation(const AVStream& stream) {
    const uint8_t* matrix = nullptr;
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 29, 100)
    const AVPacketSideData* sd = av_packet_side_data_get(
        stream.codecpar->coded_side_data, stream.codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    if (sd != nullptr && sd->size >= 9 * static_cast<int>(sizeof(int32_t))) matrix = sd->data;
#else
    size_t size = 0;
    matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (size < 9 * sizeof(int32_t)) matrix = nullptr;
#endif
    if (matrix == nullptr) return 0;
    const double counterClockwise = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(counterClockwise)) return 0;
    // Players turn by whole quarters.
    const long quarters = std::lround(-counterClockwise / kQuarterTurn);
    return static_cast<int>(((quarters % 4) + 4) % 4) * kQuarterTurn;
}

// Turns the w x h picture `src` (top-down rows of `src` words) clockwise by
// `degrees` into `out`.
void turn(const uint32_t* src, int32_t w, int32_t h, int degrees, FrameBuffer& out) {
    uint8_t* top = out.topRowBytes();
    const int stride = out.topDownStride();
    for (int32_t y = 0; y < out.h(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(top + static_cast<ptrdiff_t>(y) * stride);
        for (int32_t x = 0; x < out.w(); ++x) {
            int32_t sx = 0, sy = 0;
            if (degrees == kQuarterTurn) {
                sx = y, sy = h - 1 - x;
            } else if (degrees == kHalfTurn) {
                sx = w - 1 - x, sy = h - 1 - y;
            } else {
                sx = w - 1 - y, sy = x;
            }
            row[x] = src[static_cast<size_t>(sy) * static_cast<size_t>(w) + static_cast<size_t>(sx)];
        }
    }
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
    // `cancelled`: set from another thread to make a blocked read give up.
    explicit MediaReader(const std::atomic<bool>& cancelled) : cancelled_(cancelled) {}
    ~MediaReader() override {
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        for (AVPacket*& p : ahead_) av_packet_free(&p);
        avcodec_free_context(&codec_);
        avformat_close_input(&format_);
    }

    // `frameThreads`: decode several frames at once, as long as the file is clean.
    Status open(const ReaderParams& params, bool frameThreads);
    Status read(FrameBuffer& frame, ReadFrame& meta) override;
    void setRgbLevels(RgbLevels levels) override { rgbLevels_ = levels; }
    // After a read that handed over nothing: damage showed while frame
    // threads decoded ahead, so it cannot be pinned on one frame.
    bool lostTrack() const { return lostTrack_; }
    // After a read that handed over nothing: seeking could not find the
    // frame a start time wants; decoding from the first frame will.
    bool wantsStartOver() const { return startOver_; }
    Status readAgain(FrameBuffer& frame, RgbLevels levels) override;
    void convertInBands(const std::vector<RgbLevels>& levels) override { bandLevels_ = levels; }
    void convertRows(RgbLevels levels, int32_t first, const Frame& rows) const override;
    bool tallySourceLuma(const PlaneWindow& window, LumaHistogram& histogram) const override {
        return tallyYPlane(*frame_, window, histogram);
    }
    const AVFrame* decoded() const override { return frame_; }
    SourceLevels decodedLevels() const override { return decodedLevels_; }

private:
    enum class Next { Frame, End, Corrupt, CutShort };
    struct Step {
        Next next = Next::End;
        std::string problem;  // what is wrong with a damaged frame, or an early end
    };
    // Decodes the next frame into frame_.
    Status decodeNext(Step& step);
    // av_read_frame, after the packets read ahead.
    int readPacket();
    // Whether an image demuxer's input holds more than one picture: a pipe
    // or file of pictures one after another, read as FFmpeg does. The
    // packets read to tell stay in ahead_.
    Status holdsMorePictures(bool& more);
    // At the end: "" when the frames reached the length the file states, else how they fell short.
    std::string shortfall() const;
    // Why no frame came from the start point on: what the file holds before it.
    std::string pastTheEnd() const;
    // To the key frame at or before `pts` (stream ticks), the decoder
    // emptied; what it then gives is checked (seekChecked_).
    bool seekTo(int64_t pts);
    // The last seek went past the start point: seeks further back, or,
    // back at the start, asks to start over; false when it asks.
    bool seekFurtherBack();
    Status convert(FrameBuffer& out, int64_t number, LevelConverter& converter, RgbLevels rgbLevels);
    // The levels of the frame decoded last, after checking its size.
    Status frameLevels(int64_t number, SourceLevels& levels) const;
    // Where the chroma sits and whether the frame is two fields: the frame's
    // word, else the stream's, the user's over both.
    void placeChroma(AVChromaLocation frameSite, bool frameInterlaced, SourceLevels& levels) const;
    // Sets the converters up for convertRows(), converting the frame whole
    // where its rows cannot be converted alone (a turned picture, RGB).
    Status prepareBands(int64_t number);
    static int interrupted(void* self) {
        return interruptRequested(nullptr) != 0 || static_cast<MediaReader*>(self)->cancelled_.load() ? 1 : 0;
    }

    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::vector<AVPacket*> ahead_;  // read by holdsMorePictures(), in order
    size_t aheadTaken_ = 0;
    AVFrame* frame_ = nullptr;
    std::unique_ptr<SliceWorkers> workers_;  // share out the conversion's rows
    LevelConverter converter_;
    LevelOverrides overrides_;
    RgbLevels rgbLevels_ = RgbLevels::Full;
    LevelConverter secondConverter_;  // readAgain's, so neither rebuilds its tables every frame
    SourceLevels decodedLevels_;      // of the frame converted last
    // In bands: the levels asked for, each with its converter (the two
    // above, in order) or its whole picture.
    static constexpr size_t kMostBandLevels = 2;
    std::vector<RgbLevels> bandLevels_;
    bool bandByRows_[kMostBandLevels] = {};
    FrameBuffer bandWhole_[kMostBandLevels];
    std::vector<uint32_t> unturned_;  // the picture before it is turned, when it is
    int64_t lastPts_ = INT64_MIN;     // of the frame handed over last
    int stream_ = -1;
    bool draining_ = false, ended_ = false;
    int readErrorsInARow_ = 0;
    int64_t packetsEnd_ = 0;        // where the stream's last whole packet ends in the input, in bytes
    bool endsInsideFrame_ = false;  // the input ends inside a frame its demuxer dropped
    // A NUT file without its closing index: its size, which the last packet,
    // cut, reaches; 0 for any other input.
    int64_t unfinishedSize_ = 0;
    int64_t seenDecoderErrors_ = 0;
    int64_t nextNumber_ = 0;  // number of the next frame decoded
    bool frameThreads_ = false, lostTrack_ = false, startOver_ = false;
    const std::atomic<bool>& cancelled_;
    int64_t lastNumber_ = 0;  // of the frame handed over last
    // Timing, in stream time-base ticks.
    int64_t firstPts_ = 0;      // the stream's start
    double frameTicks_ = 0.0;   // one frame
    double reachedEnd_ = -1.0;  // the end of the latest frame handed to the decoder
    double statedEnd_ = -1.0;   // where the file says the stream ends, if it does
    // Positioning: frames to drop by count, or by time.
    int64_t dropFrames_ = 0;
    bool dropByTime_ = false;
    int64_t startPts_ = 0;  // the first pts to keep (Timeline::kFarTicks past the start at most)
    // After a seek, until a key frame shows where it landed: a decoder that
    // comes into the middle of a group of pictures gives frames that are
    // not whole, or none, and a demuxer may land after the frame wanted.
    bool seekChecked_ = true;
    int64_t soughtPts_ = 0;  // where the last seek went
    int64_t seekBack_ = 0;   // how much further back the next one goes
    Timeline timeline_;
    StartPoint start_;
    bool reachedStart_ = false;     // a frame at or after the start point came
    int64_t droppedFrames_ = 0;     // before the start point
    double lastDroppedPts_ = -1.0;  // of the latest frame before a start time, < 0: none decoded
};

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
    const int threads =
        params.threads > 0 ? params.threads : static_cast<int>(std::thread::hardware_concurrency());
    if (threads > 1) {
        workers_ = std::make_unique<SliceWorkers>(threads);
        converter_.setWorkers(workers_.get());
        secondConverter_.setWorkers(workers_.get());
    }

    if (codec_->width <= 0 || codec_->height <= 0)
        return Status::fail(path + ": the stream does not say its frame size");
    info_.rotation = params.autorotate ? displayRotation(*stream) : 0;
    const bool sideways = info_.rotation == kQuarterTurn || info_.rotation == kThreeQuarterTurn;
    info_.w = sideways ? codec_->height : codec_->width;
    info_.h = sideways ? codec_->width : codec_->height;
    const AVRational sar = av_guess_sample_aspect_ratio(format_, format_->streams[stream_], nullptr);
    if (sar.num > 0 && sar.den > 0)
        info_.sampleAspect = sideways ? Rational{sar.den, sar.num} : Rational{sar.num, sar.den};
    info_.levels =
        levelsOf(codec_->pix_fmt, codec_->colorspace, codec_->color_range, codec_->height, overrides_);
    placeChroma(codec_->chroma_sample_location, false, info_.levels);
    decodedLevels_ = info_.levels;
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
    const double fps = static_cast<double>(info_.frameRate.num) / info_.frameRate.den;

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

Status MediaReader::decodeNext(Step& step) {
    for (;;) {
        int r = avcodec_receive_frame(codec_, frame_);
        if (r == 0) {
            const int64_t errors = decoderErrorCount(codec_);
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
            if (endsInsideFrame_) {  // once, after the frames the decoder still held
                endsInsideFrame_ = false;
                step.problem =
                    "frame " + std::to_string(nextNumber_) + " is incomplete: the input ends inside it";
                step.next = Next::Corrupt;
                return {};
            }
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
        r = readPacket();
        if (r == AVERROR_EOF) {
            if (!draining_ && std::strcmp(format_->iformat->name, kY4mDemuxer) == 0 && format_->pb != nullptr)
                endsInsideFrame_ = avio_tell(format_->pb) > packetsEnd_;
            draining_ = true;
            r = avcodec_send_packet(codec_, nullptr);
            if (r < 0 && r != AVERROR_EOF)
                return Status::fail(info_.name + ": cannot drain the decoder at the end (" +
                                    libraryDetail(r) + ")");
            continue;
        }
        // The interrupt callback gave up the read (a signal, cancel()): no damage of the input's.
        if (r == AVERROR_EXIT) return Status::fail(info_.name + ": reading interrupted");
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
        if (packet_->pos >= 0) packetsEnd_ = std::max(packetsEnd_, packet_->pos + packet_->size);
        if (unfinishedSize_ > 0 && packetsEnd_ >= unfinishedSize_) {
            av_packet_unref(packet_);
            step.problem = "frame " + std::to_string(nextNumber_) + " is incomplete: the file ends inside it";
            step.next = Next::Corrupt;
            return {};
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
            seenDecoderErrors_ = decoderErrorCount(codec_);  // the message belongs to this failure
            step.next = Next::Corrupt;
            return {};
        }
    }
}

int MediaReader::readPacket() {
    if (aheadTaken_ < ahead_.size()) {
        av_packet_move_ref(packet_, ahead_[aheadTaken_]);
        av_packet_free(&ahead_[aheadTaken_++]);
        return 0;
    }
    return av_read_frame(format_, packet_);
}

Status MediaReader::holdsMorePictures(bool& more) {
    constexpr size_t kEnoughToTell = 2;
    while (ahead_.size() < kEnoughToTell) {
        AVPacket* p = av_packet_alloc();
        if (p == nullptr) return Status::fail(info_.name + ": out of memory for its packets");
        // A failure here comes again when the frames are read, and is reported there.
        if (av_read_frame(format_, p) < 0) {
            av_packet_free(&p);
            break;
        }
        if (p->stream_index == stream_)
            ahead_.push_back(p);
        else
            av_packet_free(&p);
    }
    more = ahead_.size() == kEnoughToTell;
    return {};
}

Status MediaReader::read(FrameBuffer& frame, ReadFrame& meta) {
    meta = {};
    for (;;) {
        Step step;
        if (Status s = decodeNext(step); !s.ok()) return s;
        const Next next = step.next;
        const std::string& problem = step.problem;
        if (next == Next::Corrupt && frameThreads_) {
            lostTrack_ = true;
            return {};
        }
        if ((next == Next::End || next == Next::CutShort) && !seekChecked_) {  // no key frame after the seek
            if (!seekFurtherBack()) return {};
            continue;
        }
        if ((next == Next::End || next == Next::CutShort) && !reachedStart_) {
            const std::string why = pastTheEnd();
            return Status::fail(next == Next::CutShort ? why + "; " + problem : why);
        }
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
            if (!seekChecked_) {
                // Up to the first key frame after a seek nothing is whole; a
                // key frame past the start point leaves frames before it unseen.
                const bool key = frame_->key_frame != 0 || frame_->pict_type == AV_PICTURE_TYPE_I;
                if (!key || pts == AV_NOPTS_VALUE) {
                    av_frame_unref(frame_);
                    continue;
                }
                if (pts > startPts_) {
                    av_frame_unref(frame_);
                    if (!seekFurtherBack()) return {};
                    continue;
                }
                seekChecked_ = true;
            }
            if (pts != AV_NOPTS_VALUE) {
                keep = pts >= startPts_;
                // After a seek the count restarts; the timestamps know the number.
                number = timeline_.frameAt(pts);
                nextNumber_ = number + 1;
            }
            if (keep) dropByTime_ = false;
        } else if (dropByTime_) {
            keep = false;  // a damaged frame before the start point
        }
        if (!keep && !seekChecked_) {  // not a frame of the file's, as far as anyone can tell
            av_frame_unref(frame_);
            continue;
        }
        if (!keep) {
            ++droppedFrames_;
            if (next == Next::Frame && frame_->best_effort_timestamp != AV_NOPTS_VALUE)
                lastDroppedPts_ =
                    std::max(lastDroppedPts_, static_cast<double>(frame_->best_effort_timestamp));
            av_frame_unref(frame_);
            continue;
        }
        reachedStart_ = true;
        meta.number = number;
        // Rising timestamps, the source's own where it gives them.
        const int64_t tick = std::max<int64_t>(1, std::llround(frameTicks_));
        int64_t pts = info_.still ? number : frame_->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE || (lastPts_ != INT64_MIN && pts <= lastPts_))
            pts = lastPts_ == INT64_MIN ? 0 : lastPts_ + tick;
        if (next == Next::Frame) lastPts_ = pts;
        meta.pts = pts;
        if (next == Next::Corrupt) {
            meta.corrupt = true;
            meta.problem = info_.name + ": " + problem;
            av_frame_unref(frame_);
            return {};
        }
        // Kept until the next decode (which unrefs it first) for readAgain.
        lastNumber_ = number;
        return bandLevels_.empty() ? convert(frame, number, converter_, rgbLevels_) : prepareBands(number);
    }
}

Status MediaReader::prepareBands(int64_t number) {
    if (bandLevels_.size() > kMostBandLevels) return Status::fail("too many levels to convert in bands");
    SourceLevels levels;
    if (Status s = frameLevels(number, levels); !s.ok()) return s;
    decodedLevels_ = levels;
    for (size_t i = 0; i < bandLevels_.size(); ++i) {
        LevelConverter& converter = i == 0 ? converter_ : secondConverter_;
        if (Status s = converter.prepare(*frame_, levels, bandLevels_[i]); !s.ok())
            return Status::fail(info_.name + ", frame " + std::to_string(number) + ": " + s.message());
        bandByRows_[i] = info_.rotation == 0 && converter.byRows();
        if (bandByRows_[i]) continue;
        FrameBuffer& whole = bandWhole_[i];
        if (whole.w() != info_.w || whole.h() != info_.h)
            whole = FrameBuffer(info_.w, info_.h, kBytesPerPixel * static_cast<ptrdiff_t>(info_.w));
        if (Status s = convert(whole, number, converter, bandLevels_[i]); !s.ok()) return s;
    }
    return {};
}

void MediaReader::convertRows(RgbLevels levels, int32_t first, const Frame& rows) const {
    const size_t i = bandLevels_.size() > 1 && levels == bandLevels_[1] ? 1 : 0;
    if (!bandByRows_[i]) {
        copyRows(bandWhole_[i], first, rows);
        return;
    }
    const LevelConverter& converter = i == 0 ? converter_ : secondConverter_;
    converter.rows(first, first + rows.h, reinterpret_cast<uint8_t*>(rows.canvasRow(0)),
                   -static_cast<int>(rows.pitch));
}

Status MediaReader::readAgain(FrameBuffer& frame, RgbLevels levels) {
    if (frame_->width <= 0) return Status::fail(info_.name + ": no frame to read again");
    return convert(frame, lastNumber_, secondConverter_, levels);
}

Status MediaReader::frameLevels(int64_t number, SourceLevels& levels) const {
    const AVFrame& f = *frame_;
    const bool sideways = info_.rotation == kQuarterTurn || info_.rotation == kThreeQuarterTurn;
    if ((sideways ? f.height : f.width) != info_.w || (sideways ? f.width : f.height) != info_.h)
        return Status::fail(info_.name + ": the frame size changes from " + std::to_string(info_.w) + "x" +
                            std::to_string(info_.h) + " to " + std::to_string(f.width) + "x" +
                            std::to_string(f.height) + " at frame " + std::to_string(number) +
                            "; kivrel needs one size throughout");
    // The frame's own tags, where it has them; the stream's otherwise.
    levels = levelsOf(f.format, f.colorspace != AVCOL_SPC_UNSPECIFIED ? f.colorspace : codec_->colorspace,
                      f.color_range != AVCOL_RANGE_UNSPECIFIED ? f.color_range : codec_->color_range,
                      f.height, overrides_);
    placeChroma(f.chroma_location, f.interlaced_frame != 0, levels);
    return {};
}

void MediaReader::placeChroma(AVChromaLocation frameSite, bool frameInterlaced, SourceLevels& levels) const {
    levels.chromaSite = frameSite != AVCHROMA_LOC_UNSPECIFIED ? frameSite : codec_->chroma_sample_location;
    // The decoder's flag on the frame, or the stream's field order.
    const bool streamFields =
        codec_->field_order != AV_FIELD_UNKNOWN && codec_->field_order != AV_FIELD_PROGRESSIVE;
    levels.fields = overrides_.fields.value_or(frameInterlaced || streamFields);
}

Status MediaReader::convert(FrameBuffer& out, int64_t number, LevelConverter& converter,
                            RgbLevels rgbLevels) {
    const AVFrame& f = *frame_;
    SourceLevels levels;
    Status s = frameLevels(number, levels);
    if (!s.ok()) return s;
    decodedLevels_ = levels;
    if (info_.rotation == 0) {
        s = converter.convert(f, levels, rgbLevels, out.topRowBytes(), out.topDownStride());
    } else {
        unturned_.resize(static_cast<size_t>(f.width) * static_cast<size_t>(f.height));
        s = converter.convert(f, levels, rgbLevels, reinterpret_cast<uint8_t*>(unturned_.data()),
                              f.width * static_cast<int>(sizeof(uint32_t)));
        if (s.ok()) turn(unturned_.data(), f.width, f.height, info_.rotation, out);
    }
    if (!s.ok()) return Status::fail(info_.name + ", frame " + std::to_string(number) + ": " + s.message());
    return {};
}

}  // namespace

namespace {

// Reads with frame threads while the file is clean. At the first damage it
// starts over with slice threads, which pin each message on its frame, and
// passes over what it has already handed on: every frame handed on before
// was decoded without a single logged error, so the run goes on exactly as
// a slice-threaded one would have.
class ResumingReader final : public Reader {
public:
    Status open(const ReaderParams& params) {
        params_ = params;
        struct stat st {};
        // Only a file can be read a second time.
        const bool file = params.path != "-" && ::stat(params.path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
        inner_ = std::make_unique<MediaReader>(cancelled_);
        frameThreads_ = file;
        if (Status s = inner_->open(params, file); !s.ok()) return s;
        info_ = inner_->info();
        return {};
    }

    Status read(FrameBuffer& frame, ReadFrame& meta) override {
        for (;;) {
            if (Status s = inner_->read(frame, meta); !s.ok()) return s;
            if (inner_->lostTrack() || inner_->wantsStartOver()) {
                const bool frameThreads = inner_->wantsStartOver() && frameThreads_;
                if (inner_->wantsStartOver()) params_.seek = false;
                inner_ = std::make_unique<MediaReader>(cancelled_);
                takeLibraryMessage();  // logged by the threads; the slice decoder logs its own
                frameThreads_ = frameThreads;
                if (Status s = inner_->open(params_, frameThreads); !s.ok()) return s;
                inner_->setRgbLevels(rgbLevels_);
                inner_->convertInBands(bandLevels_);
                passOver_ = handedOn_;
                continue;
            }
            if (meta.end) return {};
            if (passOver_ > 0) {
                --passOver_;
                continue;
            }
            ++handedOn_;
            return {};
        }
    }

    void setRgbLevels(RgbLevels levels) override {
        rgbLevels_ = levels;
        inner_->setRgbLevels(levels);
    }
    Status readAgain(FrameBuffer& frame, RgbLevels levels) override {
        return inner_->readAgain(frame, levels);
    }
    void convertInBands(const std::vector<RgbLevels>& levels) override {
        bandLevels_ = levels;
        inner_->convertInBands(levels);
    }
    void convertRows(RgbLevels levels, int32_t first, const Frame& rows) const override {
        inner_->convertRows(levels, first, rows);
    }
    bool tallySourceLuma(const PlaneWindow& window, LumaHistogram& histogram) const override {
        return inner_->tallySourceLuma(window, histogram);
    }
    const AVFrame* decoded() const override { return inner_->decoded(); }
    SourceLevels decodedLevels() const override { return inner_->decodedLevels(); }
    void cancel() override { cancelled_ = true; }

private:
    ReaderParams params_;
    std::unique_ptr<MediaReader> inner_;
    RgbLevels rgbLevels_ = RgbLevels::Full;
    std::vector<RgbLevels> bandLevels_;
    int64_t handedOn_ = 0, passOver_ = 0;  // frames and damaged ones, as read() gave them
    bool frameThreads_ = false;            // the reader's now
    std::atomic<bool> cancelled_{false};
};

}  // namespace

Status openMediaReader(const ReaderParams& params, std::unique_ptr<Reader>& reader) {
    auto media = std::make_unique<ResumingReader>();
    if (Status s = media->open(params); !s.ok()) return s;
    reader = std::move(media);
    return {};
}
