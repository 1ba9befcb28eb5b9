// Decoding frame after frame, with what goes wrong on the way, and the
// levels each frame is to be converted at.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "input/file_end.h"
#include "input/media_reader.h"
#include "input/rotation.h"
#include "os/av_support.h"

namespace {

// A demuxer that keeps failing without handing over a packet is not going
// to recover; give up after this many errors in a row.
constexpr int kMaxReadErrorsInARow = 32;

// Y4M's frames lie back to back, each of one size, and its demuxer drops a
// frame the input ends inside without a word: bytes read past the last
// whole frame tell. (The raw demuxer hands such a frame on, flagged.)
constexpr const char* kY4mDemuxer = "yuv4mpegpipe";

}  // namespace

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
        if (anchor_ == Anchor::Unknown)
            anchor_ = packet_->pts == AV_NOPTS_VALUE && (packet_->flags & AV_PKT_FLAG_KEY) != 0
                          ? Anchor::FirstPacketUntimed
                          : Anchor::Settled;
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

int64_t MediaReader::framePts() const {
    const int64_t pts = frame_->best_effort_timestamp;
    return pts == AV_NOPTS_VALUE ? pts : pts - ptsShift_;
}

Status MediaReader::read(ReadFrame& meta) {
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
        if (next == Next::Frame && anchor_ == Anchor::FirstPacketUntimed) {
            anchor_ = Anchor::Settled;
            const int64_t pts = frame_->best_effort_timestamp;
            if (pts != AV_NOPTS_VALUE && pts > firstPts_) ptsShift_ = pts - firstPts_;
        }
        int64_t number = nextNumber_++;
        bool keep = true;
        if (dropFrames_ > 0) {
            --dropFrames_;
            keep = false;
        } else if (dropByTime_ && next == Next::Frame) {
            const int64_t pts = framePts();
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
            if (next == Next::Frame && framePts() != AV_NOPTS_VALUE)
                lastDroppedPts_ = std::max(lastDroppedPts_, static_cast<double>(framePts()));
            av_frame_unref(frame_);
            continue;
        }
        reachedStart_ = true;
        meta.number = number;
        // Rising timestamps, the source's own where it gives them.
        const int64_t tick = std::max<int64_t>(1, std::llround(frameTicks_));
        int64_t pts = info_.still ? number : framePts();
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
        // Held until the next decode, which unrefs it first.
        SourceLevels levels;
        if (Status s = frameLevels(number, levels); !s.ok()) return s;
        picture_ = {number, frame_, levels};
        return {};
    }
}

Status MediaReader::frameLevels(int64_t number, SourceLevels& levels) const {
    const AVFrame& f = *frame_;
    const Turn turn{info_.rotation, f.width, f.height};
    if (turn.shownW() != info_.w || turn.shownH() != info_.h)
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
