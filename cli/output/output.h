// Where the filter's frames go: one writer per output format behind a small
// interface, picked from a table by name (-f) or by the output's name. Files
// are written under a temporary name and moved into place by finish() (or,
// for --keep-partial after a failure, by finishPartial()); a writer
// destroyed before that removes what it wrote.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "pluginhost/frame_buffer.h"
#include "pluginhost/status.h"
#include "vocabulary.h"

// Standard output, for the writers that can print there.
inline constexpr std::string_view kStdoutName = "-";
inline constexpr const char* kStdoutShown = "standard output";  // in messages
// The writer that keeps nothing (--null).
inline constexpr std::string_view kNullOutputName = "null";
// The writer of FFmpeg's containers, which -f may also name by muxer.
inline constexpr std::string_view kVideoOutputName = "video";
// The writer of one picture; with -f image2 (FFmpeg's muxer of picture files,
// kPictureMuxer), it or the sequence writer, as the output's name asks.
inline constexpr std::string_view kImageOutputName = "image";
inline constexpr std::string_view kPictureMuxer = "image2";

struct WriterSettings {
    int32_t w = 0;
    int32_t h = 0;
    Rational frameRate;
    Rational timeBase;               // of the timestamps writeTimed() gets; 0/1: 1/frameRate
    Rational sampleAspect = {1, 1};  // of the output's pixels
    bool overwrite = false;
    std::optional<FileId> source;
    int64_t frames = -1;      // how many the run will write, when known
    int64_t startNumber = 1;  // an image sequence's first number
    std::string muxer;        // -f: FFmpeg's container by name; empty: by the extension
    std::string codec;        // -c:v; empty: the default of the container
    std::string pixelFormat;  // -pix_fmt; empty: the encoder's least lossy for RGB
    int threads = 0;          // 0: as many as the machine has
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
    // After a failure or an interrupt: keeps the frames written so far
    // (closing a video so that it plays). Returns how many in `kept`.
    virtual Status finishPartial(int64_t& kept) = 0;
    // Where the frames went, for the summary ("" for none).
    virtual std::string destination() const = 0;
    // What has gone down a pipe or other stream written directly: whole
    // frames, or bytes, -1 where the writer cannot tell; both -1 for a file.
    struct Sent {
        int64_t frames = -1, bytes = -1;
    };
    virtual Sent sent() const { return {}; }
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
// -f's value: one of ours, or FFmpeg's muxer by name (the video writer
// with `muxer` set; for kPictureMuxer, the image writer, which
// picturesNamed() settles once the name is known), or a failure naming
// both vocabularies.
Status outputFormatByName(std::string_view name, const OutputFormat*& format, std::string& muxer);
// ".nut" for the muxer "nut": the first extension FFmpeg lists for it, or
// "." + its name where it lists none.
std::string muxerSuffix(const std::string& muxer);
// "null, md5, sequence, image, video"
std::string outputFormatNames();
// The format an output name asks for, or a failure naming what is wrong with it.
Status outputFormatFor(const std::string& path, const OutputFormat*& format);
// For -f image2: the picture writer `path` asks for (one picture, or a
// sequence for a %d pattern), or a usage failure for any other name.
Status picturesNamed(const std::string& path, const OutputFormat*& format);
