// Where a run's time goes (decoding, the filter, encoding) and the one-line
// summary printed at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "input/input.h"
#include "output/output.h"
#include "pluginhost/frame_buffer.h"
#include "run/verify.h"

struct Timing {
    using Clock = std::chrono::steady_clock;
    double decode = 0, filter = 0, encode = 0;  // seconds
    static double since(Clock::time_point t) {
        return std::chrono::duration<double>(Clock::now() - t).count();
    }
};

struct RunCounts {
    int64_t frames = 0;
    int64_t skipped = 0;    // damaged frames left out
    bool cutShort = false;  // the input ended before its stated length
    std::string cutAfter;   // then its last good frame: "frame 6 at 0.600 s"
    bool damaged() const { return skipped > 0 || cutShort; }
};

struct Summary {
    std::string destination;  // "" for none
    std::string verified;     // the hash file the run matched, or ""
    int32_t w = 0, h = 0;     // of the output frames
    bool encoded = false;     // show the writer's rate
    std::string source;       // how the input's levels were read, or ""
    std::string alphaFormat;  // the input's pixel format where its alpha is dropped, or ""
};

// "kivrel: wrote x.mkv: 6 frames 360x570 in 0.12 s (50.0 fps); filter ..., decode ..."
void printSummary(const Summary& out, const RunCounts& n, double seconds, const Timing& t);

// What a finished run wrote: `shown` the output frames, `verifier` null
// without --verify.
Summary summaryOf(const Writer& writer, const OutputFormat& format, const Verifier* verifier,
                  const FrameBuffer& shown, const SourceInfo& info);
