// The reading stage of a run: the frames a reader gives, in order, after
// the run's rules (-frames/-t/-to, a still repeated into a clip, damaged
// frames failing the run or, with --skip-errors, left out). Damage is never
// silent: each damaged frame and each cut names the last good frame before
// it, in the failure or in a warning the caller prints. Each frame is
// converted (convert/frame_converter.h) as soon as it is decoded, since
// the next decode takes its place. FrameReading does it on the caller's
// thread; ReadAhead does it on a thread of its own, a few frames ahead, so
// decoding overlaps the stages after it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "convert/frame_converter.h"
#include "input/input.h"
#include "options/options.h"
#include "pluginhost/frame_buffer.h"
#include "pluginhost/status.h"
#include "run/frame_queue.h"

// Where -t and -to end a clip, as FFmpeg trims one: at the first frame
// `ticks` (of the source's time base) or more after the first frame read,
// or after the stream's start with `fromStreamStart`.
struct ReadStop {
    int64_t ticks = -1;  // < 0: no end
    bool fromStreamStart = false;
};

struct ReadRules {
    int64_t limit = -1;        // at most this many frames (-frames); < 0: all
    int64_t stillRepeats = 1;  // a still is handed over this many times
    bool skipErrors = false;   // leave damaged frames out instead of failing
    ReadStop stop;             // of a clip, not a still
};

// One step of the stream: a frame, its end, or a failure that ends the run.
struct SourceItem {
    enum class Kind { Frame, End, Failed };
    Kind kind = Kind::End;
    ReadFrame meta;                   // of the frame
    Status status;                    // with Failed
    int64_t skipped = 0;              // damaged frames left out so far
    std::vector<int64_t> skippedPts;  // of those left out since the item before
    bool cutShort = false;            // with End: the input stops before its stated length
    std::string lastGood;             // with End after a cut: "frame 6 at 0.600 s", or ""
    // With --skip-errors, what was damaged since the item before, each naming
    // the last good frame before it: warnings for the caller to print.
    std::vector<std::string> damage;
    double decodeSeconds = 0;  // spent reading since the previous item
};

class FrameReading {
public:
    // Without `converter`, decoding only: the caller converts the reader's picture itself.
    FrameReading(Reader& reader, FrameConverter* converter, const ReadRules& rules)
        : reader_(reader), converter_(converter), rules_(rules) {}

    // The next item; a frame is converted into `frame` (the source's
    // geometry) at the converter's levels.
    SourceItem next(FrameBuffer& frame);
    // From another thread: a read in progress gives up.
    void cancel() { reader_.cancel(); }

private:
    // "frame 6 at 0.600 s": the last frame handed over, or "" before the first.
    std::string lastGoodText() const;
    // `problem` and the last good frame before it.
    std::string damageText(const std::string& problem) const;

    Reader& reader_;
    FrameConverter* converter_;
    ReadRules rules_;
    int64_t handed_ = 0, skipped_ = 0;
    int64_t lastGoodNumber_ = -1, lastGoodPts_ = 0;  // of the frame handed over last
    int64_t stopPts_ = -1;                           // where rules_.stop ends the clip, once known
    // A still repeated into other buffers than the one it was read into.
    FrameBuffer still_;
    const uint32_t* stillAt_ = nullptr;
};

// A frame read ahead, in a buffer of ReadAhead's pool.
struct ReadItem {
    SourceItem item;
    FrameBuffer* frame = nullptr;  // with a Frame: give it back with recycle()
};

class ReadAhead {
public:
    // `frames`: buffers of the source's geometry (w, h, pitch) to read into,
    // at least one; the reading waits while all of them are in use.
    ReadAhead(Reader& reader, FrameConverter& converter, const ReadRules& rules, int32_t w, int32_t h,
              ptrdiff_t pitch, int frames);
    ~ReadAhead();  // stops the thread
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next item in order; after End or Failed, End again.
    ReadItem next();
    // A buffer next() handed over, or any other of the same geometry, back to the pool.
    void recycle(FrameBuffer* frame);
    // Stops reading; next() then gives End. A read blocked on a pipe is
    // woken and gives up (FFmpeg's interrupt callback).
    void stop();

private:
    void run();
    // A buffer to read into: a free one, else a new one while fewer than
    // the pool's size are made; null once stopped, or with `failure` set
    // when not even one can be made.
    FrameBuffer* bufferToFill(Status& failure);

    FrameReading reading_;
    int32_t w_, h_;
    ptrdiff_t pitch_;
    size_t poolSize_;
    std::vector<std::unique_ptr<FrameBuffer>> owned_;  // the reading thread's alone
    FrameQueue<FrameBuffer*> free_;
    FrameQueue<ReadItem> ready_;
    std::thread thread_;
    std::atomic<bool> done_{false};  // the thread has nothing more to do
    bool ended_ = false;
};

// The reading as a flow that renders on the caller's thread holds it: in
// turn on that thread into one buffer of its own, or ahead on a thread of
// its own into a pool of `ahead` buffers.
class ReadStage {
public:
    // `ahead` 0: on the caller's thread.
    ReadStage(Reader& reader, FrameConverter& converter, const ReadRules& rules, int32_t w, int32_t h,
              ptrdiff_t pitch, int ahead);
    ReadStage(const ReadStage&) = delete;
    ReadStage& operator=(const ReadStage&) = delete;

    // The next item; with a Frame, `frame` holds it, the caller's until the next call.
    SourceItem next(FrameBuffer*& frame);
    // From another thread: a read in progress gives up, and next() then gives the end.
    void cancel();

private:
    std::optional<FrameReading> reading_;
    FrameBuffer own_;
    std::optional<ReadAhead> ahead_;
    FrameBuffer* held_ = nullptr;  // the read-ahead buffer handed over last
};

// What is wrong with an input the libraries would only call unreadable (an
// empty file); `id` then names the file, which no output may be.
Status checkInputFile(const std::string& path, std::optional<FileId>& id);

// The reader for the command line's input: its file, or the test card.
Status openInput(const Options& options, std::unique_ptr<Reader>& reader);
