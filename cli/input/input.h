// Where frames come from: one reader per kind of input behind a small
// interface, picked from a table by name: FFmpeg's decoders for files, or
// the built-in test card.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/source_levels.h"
#include "input/source_luma.h"
#include "pluginhost/frame_buffer.h"
#include "pluginhost/status.h"
#include "vocabulary.h"

inline constexpr Rational kStillFrameRate = {25, 1};  // for stills repeated into a clip

struct SourceInfo {
    std::string name;  // for messages: the file name, or "the test card"
    int32_t w = 0;
    int32_t h = 0;
    Rational frameRate = kStillFrameRate;
    bool still = false;       // one picture, not a clip
    int64_t frameCount = -1;  // frames from the start point on, when the container tells
    Rational timeBase = {kStillFrameRate.den, kStillFrameRate.num};  // of ReadFrame::pts
    int64_t startPts = 0;            // where the stream starts, in timeBase: frame 0's time
    Rational sampleAspect = {1, 1};  // of the picture as handed over (after any rotation)
    int rotation = 0;                // degrees clockwise the picture was turned to stand as shown
    SourceLevels levels;             // as read at the start; RGB for the test card
    std::string hdrTransfer;         // "PQ" or "HLG" as tagged; "" for any other transfer
    std::string startTimecode;       // the stream's or the container's "timecode" tag; "" without one
    double seconds = -1.0;           // the whole input's length, when the container tells
    std::string codec;               // the video's codec as FFmpeg names it ("h264"); "" for the test card
    // The pixel format's name where it carries alpha, which the filter's
    // frames have no room for; "" for none.
    std::string alphaFormat;
    bool live = false;  // a capture device or a network stream: it runs on whether read or not, no seeking

    Timeline timeline() const { return {timeBase, startPts, frameRate}; }
    // A frame's number as FFmpeg counts it: from the stream's start at its
    // frame rate, so that a frame lost on the way does not shift the ones
    // after it; `counted` where there is no timeline.
    int64_t numberAt(int64_t counted, int64_t pts) const {
        if (still || frameRate.num <= 0 || timeBase.den <= 0) return counted;
        return timeline().frameAt(pts);
    }
};

struct ReadFrame {
    bool end = false;       // no more frames; the picture held is not to be used
    bool corrupt = false;   // damaged: `problem` says how; the picture held is not to be used
    bool cutShort = false;  // with `end`: the file stops before the length it states
    int64_t number = 0;     // the frame's number in the source, counted from 0
    int64_t pts = 0;        // its presentation time in SourceInfo::timeBase, rising from frame to frame
    std::string problem;
};

// The picture a reader holds from one read() to the next: what the
// conversion to the module's RGB (convert/frame_converter.h) and the
// measures of the planes as decoded take.
struct DecodedPicture {
    int64_t number = 0;  // the frame's, for messages
    // Planes at the source's own depth; null for a reader that decodes nothing.
    const AVFrame* decoded = nullptr;
    // The levels of `decoded` (its own tags over the stream's, the user's
    // over both): its conversion and a measure of its planes follow the
    // same matrix, chroma siting and fields.
    SourceLevels levels;
    // Without `decoded`: the reader's own RGB picture, the same at every level.
    const FrameBuffer* rgb = nullptr;
};

class Reader {
public:
    virtual ~Reader() = default;
    const SourceInfo& info() const { return info_; }
    // The next frame, held as picture() until the next read(). A failed
    // Status ends the run; a corrupt frame is the caller's choice.
    virtual Status read(ReadFrame& meta) = 0;
    // The frame read last, when it was neither the end nor damaged.
    virtual const DecodedPicture& picture() const = 0;
    // From another thread: a read in progress (a pipe that blocks) gives up with a failure.
    virtual void cancel() {}

protected:
    SourceInfo info_;
};

// What a reader is opened with; each takes what concerns it.
struct ReaderParams {
    std::string path;
    StartPoint start;  // a frame number decodes from the beginning; a time seeks
    LevelOverrides levels;
    std::optional<int64_t> startNumber;  // the first number of an image sequence
    bool autorotate = true;
    int32_t cardWidth = 0, cardHeight = 0;
    int threads = 0;          // the decoder's (-threads); 0: as many as the machine has
    std::string inputFormat;  // a demuxer or capture device FFmpeg names; empty: guessed from the input
    std::vector<DemuxerOption> demuxerOptions;  // each must be one the demuxer takes
    bool seek = true;  // a start time seeks; off: decodes from the first frame and drops up to it
};

inline constexpr std::string_view kMediaReaderName = "media";
inline constexpr std::string_view kTestCardReaderName = "testcard";

// Opens the reader called `name` ("media" or "testcard").
Status openReader(std::string_view name, const ReaderParams& params, std::unique_ptr<Reader>& reader);
