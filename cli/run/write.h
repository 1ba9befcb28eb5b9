// The write stage of a run: each rendered frame, in order, checked against
// --verify's hashes and handed to the writer; and how a run that stopped
// early ends (what is kept, what is said, the exit status).
#pragma once

#include <cstdint>

#include "options/options.h"
#include "output/output.h"
#include "run/progress.h"
#include "run/render.h"
#include "run/summary_printer.h"
#include "run/verify.h"

struct WriteStage {
    RenderFlow& flow;
    Writer& writer;
    Verifier* verifier;  // null without --verify
    Progress& progress;
    RunCounts n;
    Timing t;
    int64_t firstPts = 0;  // the output starts at 0
    bool started = false;
};

// Checks and writes every frame the render flow gives, in order, until the
// input or -frames ends.
Status processFrames(WriteStage& run);

// The exit status of a run that failed with `s` before or after its frames,
// said in one line: a terminating signal's (and whether `writer`'s reader
// closed the pipe) over the failure's own.
int runFailed(const Status& s, const Writer* writer = nullptr);

// After a failure or an interrupt in the frames: --keep-partial keeps what
// was finished.
int stopped(const Options& options, Writer& writer, const Status& s);
