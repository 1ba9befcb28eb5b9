// How the command line's options read an input: what a run turns out
// before it starts (how many frames, whether a clip), the reader's
// parameters, where -frames, -t and -to stop it, how many threads the
// stages after decoding take, and what is said when the input gave no frame
// at all. kivrel report and the viewer read their inputs by the same rules.
#pragma once

#include <cstdint>
#include <string>

#include "input/input.h"
#include "options/parse.h"
#include "pluginhost/status.h"
#include "run/read.h"

struct Plan {
    int64_t stillRepeats = 1;
    int64_t expected = -1;  // frames to process, when known
    int64_t limit = -1;     // at most this many: -frames, and -t, -to at the frame rate
    bool videoOut = false;  // a clip, not one picture
};

// A still once, or -frames (-t) times as a clip.
Status planFor(const SourceInfo& info, const Options& options, Plan& plan);

// How the command line says to read its input (the file, where to start, its levels ...).
ReaderParams readerParams(const Options& options, const std::string& path);

// At most this many frames of `info` by -frames, -t and -to; -1 for no
// limit. Fails when -to is not after a start given by frame number.
Status frameLimit(const SourceInfo& info, const Options& options, int64_t& limit);

// How the run reads: -frames (one frame for one picture), -t and -to (as
// FFmpeg trims, by the frames' own times), --skip-errors.
ReadRules readRulesFor(const SourceInfo& info, const Options& options, const Plan& plan);
// Where -t and -to end a clip.
ReadStop readStopFor(const SourceInfo& info, const Options& options);

// Threads for the stages after decoding (-threads; 0: one per core).
int threadsFor(const Options& options);

// Why an input ended before its first frame: every frame damaged (`skipped`
// of them left out), a start past its end, or nothing in it.
Status noFrames(const SourceInfo& info, const StartPoint& start, int64_t skipped);
