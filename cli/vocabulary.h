// The words every room of the host shares: rates, where a run starts, how
// its demuxer is opened, which file the input is, how the process ends, and the one-line message. Below
// every other header of the host, so it includes none of them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

// A frame rate, time base or aspect ratio, as FFmpeg keeps them.
struct Rational {
    int num = 0;
    int den = 1;
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
