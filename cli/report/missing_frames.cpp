#include "report/missing_frames.h"

#include <algorithm>

void MissingFrames::before(int64_t number, const std::vector<int64_t>& damagedPts) {
    if (next_ < 0) next_ = number;
    std::vector<int64_t> damaged, later;
    const auto has = [&](int64_t n) { return std::find(damaged.begin(), damaged.end(), n) != damaged.end(); };
    std::vector<int64_t> all = std::move(deferred_);
    all.insert(all.end(), damagedPts.begin(), damagedPts.end());
    for (const int64_t pts : all) {
        int64_t n = info_.numberAt(next_, pts);
        // A damaged frame's time may be a guess: out of place, it takes the
        // first free number. A decoder that holds frames back hands good ones
        // over after a damaged one that follows them: with no number free
        // before this frame, the damaged one waits for the next gap.
        if (n < next_ || (number >= 0 && n >= number) || has(n))
            for (n = next_; has(n);) ++n;
        if (number >= 0 && n >= number)
            later.push_back(pts);
        else
            damaged.push_back(n);
    }
    deferred_ = std::move(later);
    int64_t end = number >= 0 ? number : next_;
    for (const int64_t n : damaged) end = std::max(end, n + 1);
    for (int64_t n = next_; n < end; ++n) out_.push_back({n, timeOf(n), has(n)});
    next_ = std::max({next_, end, number + 1});
}

void MissingFrames::lostUpTo(int64_t end) {
    for (int64_t n = std::max<int64_t>(next_, 0); n < end; ++n) out_.push_back({n, timeOf(n), false});
}
