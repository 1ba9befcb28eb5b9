#include "run/read_rules.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "os/slice_workers.h"

namespace {

std::string lengthOf(const SourceInfo& info) {
    if (info.seconds < 0.0) return "";
    char text[64];
    std::snprintf(text, sizeof text, ", which lasts %.2f s", info.seconds);
    return text;
}

}  // namespace

ReaderParams readerParams(const Options& options, const std::string& path) {
    ReaderParams params;
    params.path = path;
    params.start = options.start;
    params.levels = options.inputLevels;
    params.startNumber = options.inputStartNumber;
    params.autorotate = !options.noAutorotate;
    params.cardWidth = options.cardWidth;
    params.cardHeight = options.cardHeight;
    params.threads = options.threads;
    params.inputFormat = options.inputFormat;
    params.demuxerOptions = options.demuxerOptions;
    return params;
}

Status frameLimit(const SourceInfo& info, const Options& options, int64_t& limit) {
    const Timeline timeline = info.timeline();
    const double fps = timeline.framesPerSecond();
    limit = options.frames.value_or(-1);
    auto lower = [&limit](int64_t n) {
        if (n >= 0) limit = limit < 0 ? n : std::min(limit, n);
    };
    if (options.duration && fps > 0.0) lower(timeline.framesStartingWithin(*options.duration));
    if (options.endTime && fps > 0.0) {
        const double from =
            options.start.isTime ? options.start.seconds : static_cast<double>(options.start.frame) / fps;
        if (Status s = checkEndAfterStart(options, from); !s.ok()) return s;
        lower(timeline.framesStartingWithin(*options.endTime - from));
    }
    return {};
}

Status planFor(const SourceInfo& info, const Options& options, Plan& p) {
    p = {};
    int64_t limit = -1;
    if (Status s = frameLimit(info, options, limit); !s.ok()) return s;
    p.limit = limit;
    p.stillRepeats = info.still ? std::max<int64_t>(1, limit) : 1;
    // One frame of video may become a picture: only more than one makes a clip.
    p.videoOut = info.still ? p.stillRepeats > 1 : info.frameCount != 1 && limit != 1;
    p.expected = info.still ? p.stillRepeats : info.frameCount;
    if (!info.still && limit >= 0) p.expected = p.expected < 0 ? -1 : std::min(p.expected, limit);
    return {};
}

ReadStop readStopFor(const SourceInfo& info, const Options& options) {
    const Timeline timeline = info.timeline();
    ReadStop stop;
    if (options.duration) stop.ticks = timeline.ticksIn(*options.duration);
    if (options.endTime) {
        // FFmpeg takes -to as the -t that reaches it from -ss; from a frame
        // number, the time is the stream's own.
        const bool fromTime = options.start.isTime || options.start.atBeginning();
        const double from = options.start.isTime ? options.start.seconds : 0.0;
        stop.ticks = timeline.ticksIn(*options.endTime - from);
        stop.fromStreamStart = !fromTime;
    }
    return stop;
}

ReadRules readRulesFor(const SourceInfo& info, const Options& options, const Plan& plan) {
    ReadRules rules;
    rules.limit = options.frames.value_or(-1);
    if (!plan.videoOut && plan.limit == 1) rules.limit = 1;  // one picture, as planned
    rules.stillRepeats = plan.stillRepeats;
    rules.skipErrors = options.skipErrors;
    rules.stop = readStopFor(info, options);
    return rules;
}

int threadsFor(const Options& options) { return threadsOrCores(options.threads); }

Status noFrames(const SourceInfo& info, const StartPoint& start, int64_t skipped) {
    if (skipped > 0) return Status::fail(info.name + ": every frame is damaged");
    if (!start.atBeginning())
        return Status::fail("-ss " + start.text + " is past the end of " + info.name + lengthOf(info));
    return Status::fail(info.name + ": holds no frames");
}
