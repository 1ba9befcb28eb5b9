#include "vocabulary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/mathematics.h>
}

int64_t Timeline::ticksIn(double seconds) const {
    if (timeBase.num <= 0 || timeBase.den <= 0) return 0;
    // FFmpeg's options count in microseconds (AV_TIME_BASE to the second).
    const double micros = std::round(seconds * AV_TIME_BASE);
    // Past this no file's ticks go, and the rescaling below cannot overflow.
    constexpr double kFarMicros = 0x1p52;
    if (!(micros < kFarMicros)) return kFarTicks;
    if (micros <= 0.0) return 0;
    const int64_t ticks = av_rescale_q_rnd(static_cast<int64_t>(micros), AVRational{1, AV_TIME_BASE},
                                           AVRational{timeBase.num, timeBase.den}, AV_ROUND_NEAR_INF);
    return std::min(ticks, kFarTicks);
}

double Timeline::secondsAt(int64_t pts) const {
    return timeBase.den > 0 ? static_cast<double>(pts - startPts) * timeBase.num / timeBase.den : 0.0;
}

double Timeline::ticksPerFrame() const {
    if (frameRate.num <= 0 || timeBase.num <= 0) return 0.0;
    return static_cast<double>(frameRate.den) * timeBase.den /
           (static_cast<double>(frameRate.num) * timeBase.num);
}

int64_t Timeline::frameAt(int64_t pts) const {
    const double perFrame = ticksPerFrame();
    return perFrame > 0.0 ? std::llround(static_cast<double>(pts - startPts) / perFrame) : 0;
}

double Timeline::framesPerSecond() const {
    return frameRate.den > 0 ? static_cast<double>(frameRate.num) / frameRate.den : 0.0;
}

double Timeline::secondsOfFrame(int64_t n) const {
    return (static_cast<double>(startPts) * timeBase.num / timeBase.den) +
           static_cast<double>(n) * frameRate.den / std::max(frameRate.num, 1);
}

double Timeline::secondsBeforeFrame(int64_t n) const {
    constexpr double kHalfFrame = 0.5;
    return (static_cast<double>(n) - kHalfFrame) * frameRate.den / frameRate.num;
}

int64_t Timeline::framesStartingWithin(double seconds) const {
    // More frames than any file holds, yet a count no arithmetic overflows.
    constexpr double kEndlessFrames = 0x1p62;
    constexpr double kRounding = 1e-6;  // of a frame: a time given to the frame is exact
    const double frames = std::ceil(seconds * framesPerSecond() - kRounding);
    if (!(frames < kEndlessFrames)) return -1;
    return std::max<int64_t>(1, static_cast<int64_t>(frames));
}

int64_t Timeline::framesNear(double seconds) const {
    if (frameRate.num <= 0 || frameRate.den <= 0) return 1;
    return std::max<int64_t>(1, std::llround(seconds * frameRate.num / frameRate.den));
}

void logLine(const std::string& message) { std::fprintf(stderr, "kivrel: %s\n", message.c_str()); }
