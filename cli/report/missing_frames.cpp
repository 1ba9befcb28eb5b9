#include "report/missing_frames.h"

#include <algorithm>

int64_t sourceNumber(const SourceInfo& info, int64_t number, int64_t pts) {
    if (info.still || info.frameRate.num <= 0 || info.timeBase.den <= 0) return number;
    return info.timeline().frameAt(pts);
}

void MissingFrames::before(int64_t number, const std::vector<int64_t>& damagedPts) {
    if (next_ < 0) next_ = number;
    std::vector<int64_t> damaged;
    const auto has = [&](int64_t n) { return std::find(damaged.begin(), damaged.end(), n) != damaged.end(); };
    for (const int64_t pts : damagedPts) {
        int64_t n = sourceNumber(info_, next_, pts);
        // A damaged frame's time may be a guess: out of place, it takes the first free number.
        if (n < next_ || (number >= 0 && n >= number) || has(n))
            for (n = next_; has(n);) ++n;
        damaged.push_back(n);
    }
    int64_t end = number >= 0 ? number : next_;
    for (const int64_t n : damaged) end = std::max(end, n + 1);
    for (int64_t n = next_; n < end; ++n) out_.push_back({n, timeOf(n), has(n)});
    next_ = std::max(next_, number + 1);
}

void MissingFrames::lostUpTo(int64_t end) {
    for (int64_t n = std::max<int64_t>(next_, 0); n < end; ++n) out_.push_back({n, timeOf(n), false});
}
