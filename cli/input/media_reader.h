// The reader of files FFmpeg's libraries decode (stills, image sequences
// and video): one opening of the input, decoded with frame or slice
// threads. media.cpp wraps it in the reader the input table hands out.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "input/input.h"
#include "os/signals.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
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
    Status read(ReadFrame& meta) override;
    const DecodedPicture& picture() const override { return picture_; }
    // After a read that handed over nothing: damage showed while frame
    // threads decoded ahead, so it cannot be pinned on one frame.
    bool lostTrack() const { return lostTrack_; }
    // After a read that handed over nothing: seeking could not find the
    // frame a start time wants; decoding from the first frame will.
    bool wantsStartOver() const { return startOver_; }

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
    // The levels of the frame decoded last, after checking its size.
    Status frameLevels(int64_t number, SourceLevels& levels) const;
    // Where the chroma sits and whether the frame is two fields: the frame's
    // word, else the stream's, the user's over both.
    void placeChroma(AVChromaLocation frameSite, bool frameInterlaced, SourceLevels& levels) const;
    static int interrupted(void* self) {
        return interruptRequested(nullptr) != 0 || static_cast<MediaReader*>(self)->cancelled_.load() ? 1 : 0;
    }

    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    std::vector<AVPacket*> ahead_;  // read by holdsMorePictures(), in order
    size_t aheadTaken_ = 0;
    AVFrame* frame_ = nullptr;
    LevelOverrides overrides_;
    DecodedPicture picture_;       // the frame handed over last: frame_ and its levels
    int64_t lastPts_ = INT64_MIN;  // of the frame handed over last
    // A stream whose packets give no presentation times (an MXF cut short
    // loses its index) has its frames timed by decoding times, one decoder
    // delay late: read from its start, the first frame is the stream's first,
    // and every frame is moved back by what its time overshoots the start.
    enum class Anchor { Unknown, FirstPacketUntimed, Settled } anchor_ = Anchor::Unknown;
    int64_t ptsShift_ = 0;
    int64_t framePts() const;  // the frame's best-effort time, moved by ptsShift_
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
