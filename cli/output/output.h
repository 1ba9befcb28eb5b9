// Where the filter's frames go: one writer per output format behind a small
// interface, picked from a table by name (-f) or by the output's name. Files
// are written under a temporary name and moved into place by finish(); a
// writer destroyed before that removes what it wrote.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "input/input.h"
#include "pluginhost/frame_buffer.h"
#include "pluginhost/status.h"

// Standard output, for the writers that can print there.
inline constexpr std::string_view kStdoutName = "-";
// The writer that keeps nothing (--null).
inline constexpr std::string_view kNullOutputName = "null";

struct WriterSettings {
    int32_t w = 0;
    int32_t h = 0;
    Rational frameRate;
    Rational timeBase;               // of the timestamps writeTimed() gets; 0/1: 1/frameRate
    Rational sampleAspect = {1, 1};  // of the output's pixels
    bool overwrite = false;
};

class Writer {
public:
    virtual ~Writer() = default;
    // `number`: the frame's number in the source.
    virtual Status write(const FrameBuffer& frame, int64_t number) = 0;
    // With the frame's presentation time, in WriterSettings::timeBase from
    // the first output frame on; writers that keep no time ignore it.
    virtual Status writeTimed(const FrameBuffer& frame, int64_t number, int64_t) {
        return write(frame, number);
    }
    virtual Status finish() = 0;
    // Where the frames went, for the summary ("" for none).
    virtual std::string destination() const = 0;
};

using OpenWriter = Status (*)(const std::string& path, const WriterSettings& settings,
                              std::unique_ptr<Writer>& writer);

struct OutputFormat {
    std::string_view name;  // for -f
    // Whether an output name asks for this format; a failure means the name
    // cannot be written in any format. Null: chosen by name only.
    Status (*claims)(const std::string& path, bool& claimed);
    const char* defaultSuffix;  // after "<input>.<display>", when no name is given
    bool onePicture;            // holds a single frame
    bool toStdout;              // may print to standard output ("-")
    OpenWriter open;
};

// The format called `name`, or null.
const OutputFormat* findOutputFormat(std::string_view name);
// "null, md5, sequence, image, video"
std::string outputFormatNames();
// The format an output name asks for, or a failure naming what is wrong with it.
Status outputFormatFor(const std::string& path, const OutputFormat*& format);
