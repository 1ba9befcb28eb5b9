#include "options/ffmpeg_options.h"

#include <string>

#include "options/option_values.h"
#include "vocabulary.h"

extern "C" {
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
}

// FFmpeg options with no counterpart here, refused with the reason rather
// than taken for a short option and its value ("-r 25" is not "-r" + "25",
// "-vf" is not "-v f"), so that a command line copied from FFmpeg never runs
// with a wish quietly dropped.
constexpr std::string_view kNoAudio = "the output has no audio; kivrel writes one video stream";
constexpr std::string_view kNoEncoderOptions =
    "kivrel sets no encoder options: FFV1, the default, is lossless; other encoders (-c:v) keep their "
    "defaults";
constexpr std::string_view kNoFilterGraph =
    "kivrel runs no filter graph; filter with ffmpeg first and pipe the result in (ffmpeg ... -f nut - | "
    "kivrel - ...)";

const Refusal kRefusals[] = {
    {"b",
     "kivrel does not take a bit rate: FFV1, the default, is lossless; other encoders (-c:v) keep "
     "their defaults"},
    {"crf", kNoEncoderOptions},
    {"qscale", kNoEncoderOptions},
    {"preset", kNoEncoderOptions},
    {"tune", kNoEncoderOptions},
    {"profile", kNoEncoderOptions},
    {"r", "kivrel keeps the input's frame rate (a still repeated by -frames runs at 25 frames per second)"},
    {"s", "kivrel writes each display at its own size; --picture-size scales a monitor's picture tiles"},
    {"aspect", "kivrel keeps the picture's own sample aspect ratio"},
    {"vf", kNoFilterGraph},
    {"filter", kNoFilterGraph},
    {"filter_complex", kNoFilterGraph},
    {"lavfi", kNoFilterGraph},
    {"map", "kivrel reads the input's first video stream"},
    {"vn", "kivrel writes video; without it there would be nothing to write"},
    {"acodec", kNoAudio},
    {"ab", kNoAudio},
    {"ar", kNoAudio},
    {"ac", kNoAudio},
    {"af", kNoAudio},
    {"aq", kNoAudio},
    {"aframes", kNoAudio},
    {"vol", kNoAudio},
    {"scodec", "the output has no subtitles; kivrel writes one video stream"},
};

// FFmpeg's options that describe an input when they come before -i: they
// become the demuxer's options of the same meaning (a raw input's size,
// rate and pixel format). After -i, or with no -i, they would describe the
// output, and the ones kRefusals names are refused as such.
constexpr InputOnly kInputOnly[] = {
    {"s", "video_size"},        {"video_size", "video_size"},     {"r", "framerate"},
    {"framerate", "framerate"}, {"pixel_format", "pixel_format"},
};

const InputOnly* findInputOnly(std::string_view name) {
    for (const InputOnly& o : kInputOnly)
        if (o.name == name) return &o;
    return nullptr;
}

// A demuxer option's value as FFmpeg would read it, checked here so that a
// typo is named with its option, not as an input FFmpeg cannot open.
Status checkDemuxerValue(const DemuxerOption& o) {
    const std::string& v = o.value;
    int w = 0, h = 0;
    AVRational rate{0, 1};
    if (o.key == "video_size" && (av_parse_video_size(&w, &h, v.c_str()) < 0 || w <= 0 || h <= 0))
        return bad(o.shown, v, "a frame size (720x576, pal, hd1080)");
    if (o.key == "framerate" && (av_parse_video_rate(&rate, v.c_str()) < 0 || rate.num <= 0 || rate.den <= 0))
        return bad(o.shown, v, "a frame rate (25, 30000/1001, pal, ntsc)");
    if (o.key == "pixel_format" && av_get_pix_fmt(v.c_str()) == AV_PIX_FMT_NONE)
        return bad(o.shown, v, "a pixel format FFmpeg knows (gray, yuv420p, rgb24 ...)");
    return {};
}

const Refusal* findRefusal(std::string_view name) {
    for (const Refusal& r : kRefusals)
        if (r.name == name) return &r;
    return nullptr;
}

// FFmpeg's stream types: video (V: no attached pictures), audio, subtitles, data, attachments.
constexpr std::string_view kStreamTypes = "vVasdt";

namespace {

Status badSpecifier(std::string_view shown, std::string_view specifier) {
    return Status::fail(std::string(shown) + ": " + quoted(specifier) +
                        " is not a stream specifier kivrel takes (v, v:0)");
}

}  // namespace

// FFmpeg's stream specifier after an option's name ("v", "v:0", "0", "a"):
// the output holds one video stream, so only that one can be meant.
Status checkSpecifier(std::string_view shown, std::string_view specifier, bool perStream) {
    const std::string prefix = std::string(shown) + ": ";
    std::string_view index = specifier;
    char type = 'v';
    if (!specifier.empty() && kStreamTypes.find(specifier.front()) != std::string_view::npos) {
        type = specifier.front();
        index.remove_prefix(1);
        if (!index.empty()) {
            if (index.front() != ':' || index.size() == 1)
                return badSpecifier(shown, specifier);  // "vx", "v:"
            index.remove_prefix(1);
        }
    }
    int64_t n = 0;
    if (specifier.empty() || (!index.empty() && !parseInt64(index, n)) || n < 0)
        return badSpecifier(shown, specifier);
    switch (type) {
    case 'a': return Status::fail(prefix + std::string(kNoAudio));
    case 's': return Status::fail(prefix + "the output has no subtitles; kivrel writes one video stream");
    case 'd': return Status::fail(prefix + "the output has no data streams; kivrel writes one video stream");
    case 't': return Status::fail(prefix + "the output has no attachments; kivrel writes one video stream");
    default: break;
    }
    if (!perStream) {
        const std::string name(shown.substr(0, shown.find(':')));
        return Status::fail(prefix + name + " applies to the whole run and takes no stream specifier");
    }
    if (n != 0) return Status::fail(prefix + "the output has one video stream (v or v:0)");
    return {};
}
