// The progress line on stderr while frames are processed: frames done of
// the total, frames per second and the time left. Redrawn a few times a
// second at most, and cleared when done.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class Progress {
public:
    // `total` < 0: not known. Draws nothing unless `enabled`.
    Progress(bool enabled, int64_t total);
    ~Progress() { finish(); }
    void update(int64_t done);
    void finish();  // clears the line

    // The line itself, for a given state (no carriage return, no clearing).
    static std::string format(int64_t done, int64_t total, double seconds);

private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    bool drawn_ = false;
    int64_t total_;
    Clock::time_point start_, lastDraw_;
};
