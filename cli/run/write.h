// The write stage of a run, the sink of its frame flow: each rendered
// frame, in order, checked against --verify's hashes and handed to the
// writer; and how a run that stopped early ends (what is kept, what is
// said, the exit status).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "options/options.h"
#include "output/output.h"
#include "run/pipeline.h"
#include "run/progress.h"
#include "run/summary_printer.h"
#include "run/verify.h"

class WriteSink final : public FrameSink {
public:
    // `verifier`: null without --verify; `t`: its encode time adds up there.
    WriteSink(Writer& writer, Verifier* verifier, Progress& progress, Timing& t)
        : writer_(writer), verifier_(verifier), progress_(progress), t_(t) {}

    Status take(const RenderedFrame& f) override;
    // The progress line ends first, so the warnings stand alone; it comes back with the next frame.
    void warn(const std::vector<std::string>& damage) override;

private:
    Writer& writer_;
    Verifier* verifier_;
    Progress& progress_;
    Timing& t_;
    int64_t written_ = 0;
    int64_t firstPts_ = 0;  // the output starts at 0
};

// The exit status of a run that failed with `s` before or after its frames,
// said in one line: a terminating signal's (and whether `writer`'s reader
// closed the pipe) over the failure's own.
int runFailed(const Status& s, const Writer* writer = nullptr);

// After a failure or an interrupt in the frames: --keep-partial keeps what
// was finished.
int stopped(const Options& options, Writer& writer, const Status& s);
