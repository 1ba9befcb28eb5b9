// The frame flow of a command, apart from its stages: a source hands items
// in order (the reading, and the rendering where there is one), a sink
// takes each frame (the writing of a render, the measuring of a report, the
// viewer's showing, which also ends a flow when it pauses or a key moves it).
// What every flow does alike is done here once: a terminating signal stops
// it, damage read past is said, the end and a failure end it, and the
// counts and the times spent add up.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "pluginhost/frame_buffer.h"
#include "pluginhost/status.h"
#include "run/read.h"
#include "run/run_counts.h"

// A frame read and, where the flow renders and it was wanted, rendered;
// or how the stream ended.
struct RenderedFrame {
    SourceItem item;                      // a render's failure turns a Frame into Failed
    const FrameBuffer* output = nullptr;  // null when not rendered
    double filterSeconds = 0;
};

class FrameSource {
public:
    virtual ~FrameSource() = default;
    // The next item in order; the previous one's output is no longer needed.
    virtual RenderedFrame next() = 0;
};

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // Each frame, in order; a failure stops the flow with it.
    virtual Status take(const RenderedFrame& f) = 0;
    // Damage the reading went past, before the item it came with: a line each.
    virtual void warn(const std::vector<std::string>& damage);
    // The stream's end, as the reading says it ended.
    virtual void end(const SourceItem&) {}
    // After each frame taken: false ends the flow there, as the stream's end
    // would (a viewer paused, or moved elsewhere by a key).
    virtual bool wantsMore() { return true; }
};

// A sink whose steps are the caller's own few lines (a report's measuring,
// which shares its set-up with them).
class FunctionSink final : public FrameSink {
public:
    std::function<Status(const RenderedFrame&)> onFrame;
    std::function<void(const SourceItem&)> onEnd;  // may be empty

    Status take(const RenderedFrame& f) override { return onFrame(f); }
    void end(const SourceItem& item) override {
        if (onEnd) onEnd(item);
    }
};

// The reading alone, for a sink that takes what the reader decoded itself.
class ReadingSource final : public FrameSource {
public:
    explicit ReadingSource(FrameReading& reading) : reading_(reading) {}
    RenderedFrame next() override;

private:
    FrameReading& reading_;
    FrameBuffer unused_;  // a reading that only decodes fills nothing; its sink reads the reader's picture
};

// Hands every frame of `source` to `sink` until the stream ends or the sink
// wants no more (ok), a stage fails or a signal comes (that failure). `n` and `t` add up the
// frames taken, those left out, how the stream ended and the time spent
// reading and rendering.
Status flowFrames(FrameSource& source, FrameSink& sink, RunCounts& n, Timing& t);
