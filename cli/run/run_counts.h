// What a run counts as it goes: where its time goes (decoding, the filter,
// encoding) and its frames, kept and left out.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

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
