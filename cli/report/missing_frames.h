// Frames of the source a report did not measure: the damaged ones the
// reading left out (placed by their times) and the lost ones that left only
// a gap in the numbering, each by the number FFmpeg would give it.
#pragma once

#include <cstdint>
#include <vector>

#include "input/input.h"
#include "report/report_data.h"

// The source's frames between those the report measured: the damaged ones
// the reading left out (by their times), and the lost ones that left only a
// gap in the numbering.
class MissingFrames {
public:
    // `fromZero`: a gap before the first frame read counts.
    MissingFrames(const SourceInfo& info, bool fromZero, std::vector<MissingFrame>& out)
        : info_(info), next_(fromZero ? 0 : -1), out_(out) {}

    // Before the frame numbered `number`, or at the end (`number` < 0).
    void before(int64_t number, const std::vector<int64_t>& damagedPts);
    // At the end of an input cut short: the frames it states, from the next
    // one up to `end`, are lost.
    void lostUpTo(int64_t end);

private:
    double timeOf(int64_t n) const { return info_.timeline().secondsOfFrame(n); }

    const SourceInfo& info_;
    int64_t next_;                   // the number the next frame should have; < 0: not known yet
    std::vector<int64_t> deferred_;  // times of damaged frames no number was free for yet
    std::vector<MissingFrame>& out_;
};
