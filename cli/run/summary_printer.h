// The one-line summary printed at the end of a run: what it wrote, how
// many frames, where the time went.
#pragma once

#include <cstdint>
#include <string>

#include "input/input.h"
#include "output/output.h"
#include "pluginhost/frame_buffer.h"
#include "run/run_counts.h"
#include "run/verify.h"

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
