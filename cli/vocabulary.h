// The words every room of kivrel shares: rates, where a run starts, how
// its demuxer is opened, which file the input is, how the process ends, and the one-line message. Below
// every other header of kivrel, so it includes none of them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

// A frame rate, time base or aspect ratio, as FFmpeg keeps them.
struct Rational {
    int num = 0;
    int den = 1;
};

// A stream's timeline as FFmpeg's -ss, -t and -to measure it: ticks of its
// time base counted from its start (the first frame's time), and the frame
// rate that numbers its frames. The one place times and ticks meet.
struct Timeline {
    Rational timeBase = {1, 25};
    int64_t startPts = 0;  // in timeBase: where the stream starts
    Rational frameRate = {25, 1};

    // The ticks `seconds` span, as FFmpeg turns an option's time into a
    // stream's: in whole microseconds, then to the nearest tick, halves away
    // from zero (on a 1/1000 base, 0.0405 s is 41 ticks). A time beyond any
    // file gives kFarTicks.
    int64_t ticksIn(double seconds) const;
    // Whether a frame at `pts` is at or after `seconds` from the start: -ss's choice.
    bool reaches(int64_t pts, double seconds) const { return pts - startPts >= ticksIn(seconds); }
    double secondsAt(int64_t pts) const;  // from the start
    double ticksPerFrame() const;         // at the frame rate; 0 without one
    // The frame's number at the frame rate, counted from the start.
    int64_t frameAt(int64_t pts) const;

    double framesPerSecond() const;  // 0 without a frame rate
    // Frame n's time from zero (not from the start) at the frame rate.
    double secondsOfFrame(int64_t n) const;
    // Half a frame before frame n's time from the start: a seek there lands
    // on frame n however its timestamp was rounded.
    double secondsBeforeFrame(int64_t n) const;
    // The frames `seconds` hold, as -t counts them: those that start before
    // the time is up, at least one; -1 when more than any file holds (to
    // the end). Only with a frame rate.
    int64_t framesStartingWithin(double seconds) const;
    // About as many frames as `seconds` last, at least one (a viewer's
    // skip); 1 without a frame rate.
    int64_t framesNear(double seconds) const;

    // Farther than any file reaches, yet far from overflowing a tick count.
    static constexpr int64_t kFarTicks = INT64_MAX / 4;
};

// Where to begin in the input (-ss): a frame number ("120f"), or a time from
// the start ("4.8", "1:02.5"; seconds, as FFmpeg reads a bare number).
struct StartPoint {
    bool isTime = false;
    int64_t frame = 0;
    double seconds = 0.0;
    bool atBeginning() const { return isTime ? seconds <= 0.0 : frame == 0; }
    std::string text;  // as given, for messages
};

// An option of FFmpeg's demuxer for the input, given before -i as FFmpeg
// takes it (-s 720x576 sets video_size).
struct DemuxerOption {
    std::string key;  // the demuxer's own name: video_size, pixel_format, framerate
    std::string value;
    std::string shown;  // as given on the command line, for messages: -s
};

// The input file, which no output may be.
struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
};

// The process's exit statuses, all of them.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;           // the input, output, filter or module failed
inline constexpr int kExitUsage = 2;             // a bad command line
inline constexpr int kExitRuleBroken = 3;        // kivrel report: a rule --fail-on names is broken
inline constexpr int kExitTerminalTooSmall = 4;  // kivrel configure: the form does not fit
inline constexpr int kExitSignalBase = 128;      // + N: ended by signal N, as shells report it

// "kivrel: message" on stderr.
void logLine(const std::string& message);
