// The command line's record: what the options asked for, as the commands
// read it (options/parse.h fills it). Settings options are kept as
// arguments of the filter's "Config" line.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings_vocabulary.h"
#include "input/source_levels.h"
#include "monitor/monitor_request.h"
#include "pluginhost/script_call.h"
#include "pluginhost/status.h"
#include "vocabulary.h"

// FFmpeg's log levels (libavutil/log.h): none of its messages by default,
// since kivrel reports problems itself in one line.
inline constexpr int kLibraryLogQuiet = -8;
inline constexpr int kLibraryLogInfo = 32;

struct Options {
    std::string input;  // empty: the built-in test card
    std::string
        inputFormat;  // FFmpeg's demuxer or device by name (-f before -i, play's --input-format); empty: guessed
    std::string output;       // empty: a name made from the input and the display
    std::string format;       // -f: the writer or FFmpeg's muxer by name; empty: picked by the output's name
    std::string codec;        // -c:v: the video encoder by name; empty: the container's default
    std::string pixelFormat;  // -pix_fmt: the encoder's input format; empty: no chroma subsampling
    std::string verifyFile;   // a hash file the run must match
    std::string modulePath;   // empty: kivrel.so beside the executable
    std::string scriptFile;
    std::array<std::optional<int>, kConfigArgCount> config;  // set by settings options
    std::optional<int> maxIre;
    StartPoint start;
    std::optional<int64_t> frames;
    std::optional<double> duration;      // -t, seconds from the start point
    std::optional<double> endTime;       // -to, seconds into the input
    std::optional<int64_t> startNumber;  // -start_number: an output image sequence's first number
    // An input image sequence's: -start_number before -i, or with a
    // positional INPUT the one -start_number of both.
    std::optional<int64_t> inputStartNumber;
    // Given before -i: what the demuxer is told (-pix_fmt, -s, -r ... of a raw input).
    std::vector<DemuxerOption> demuxerOptions;
    int threads = 0;                        // -threads: 0 lets FFmpeg choose
    int logLevel = kLibraryLogQuiet;        // -loglevel: FFmpeg's own messages up to this level
    int32_t padPitch = 0;                   // extra words after each row of the source and output
    int32_t cardWidth = 0, cardHeight = 0;  // 0: the card's default size
    bool printConfig = false;
    bool overwrite = false;       // -y
    bool neverOverwrite = false;  // -n, the default spelled out
    bool keepPartial = false;
    bool quiet = false;
    bool skipErrors = false;
    bool nullOutput = false;
    // How the input is read: its levels over the stream's tags, whether to
    // turn it as its display matrix says (an input sequence's first number
    // is startNumber's, as for the output).
    LevelOverrides inputLevels;
    bool noAutorotate = false;
    // The filter's --matrix and --range follow the input ("auto"; by
    // default unless given here or by --script).
    bool matrixAuto = false, rangeAuto = false;
    MonitorRequest monitor;  // several displays tiled into one output
    // Every INPUT in order (`input` is the first); only `kivrel report` takes several.
    std::vector<std::string> inputs;
};
