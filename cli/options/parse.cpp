#include "options/parse.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <span>
#include <string_view>
#include <utility>

#include "output/output.h"

extern "C" {
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
}

namespace {

constexpr int32_t kMaxPadPitch = 4096;  // words per row; plenty to shake out pitch bugs
constexpr int32_t kMaxCardSide = 8192;
constexpr int kSecondsPerMinute = 60;
constexpr int kMinutesPerHour = 60;

enum class Arg { None, Required, Switch };  // Switch: "--x", "--x=on|off", "--no-x"
// How the name is spelled: "--name" (and "-l" for a letter), or "-name" as FFmpeg spells its own.
enum class Dashes { Two, One };

using Apply = Status (*)(Options&, std::string_view value, std::string_view name);

// A setting chosen by name: the words (each may hold aliases, "a|b") and
// what the Config line stores for each.
struct Choice {
    ConfigArg arg;
    std::span<const std::string_view> words;
    std::span<const int> values;
};

// What an option does, by the first member that is set.
struct OptionEntry {
    const char* name;  // long name, without the dashes
    char letter;       // short name, or 0
    Arg arg;
    Dashes dashes = Dashes::Two;
    bool Options::*flag = nullptr;         // set to true
    std::string Options::*text = nullptr;  // takes the value as it is
    const Choice* choice = nullptr;        // one of some words, into the Config line
    int switchArg = -1;                    // Arg::Switch: the Config argument it turns on or off
    Apply apply = nullptr;                 // anything else
    bool perStream = false;                // takes FFmpeg's stream specifier: "-c:v", "-frames:v:0"
    // The value may follow the letter in the same word ("-dvideo"). Not for
    // FFmpeg's own letters, whose long words (-framerate, -vsync) must never
    // pass for the letter and a value.
    bool joinedValue = true;
};

std::string formatSeconds(double t) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", t);
    return text;
}

Status bad(std::string_view name, std::string_view value, std::string_view expected) {
    return Status::fail(std::string(name) + ": " + quoted(value) + " is not " + std::string(expected));
}

bool parseInt64(std::string_view text, int64_t& v) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return ec == std::errc() && end == text.data() + text.size();
}

bool parseDouble(std::string_view text, double& v) {
    if (text.empty() || text.front() == '-' || text.front() == '+') return false;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(v);
}

Status parseRange(std::string_view name, std::string_view value, int64_t lo, int64_t hi, int64_t& out) {
    if (!parseInt64(value, out) || out < lo || out > hi)
        return bad(name, value,
                   "a whole number from " + std::to_string(lo) +
                       (hi == INT64_MAX ? std::string(" up") : " to " + std::to_string(hi)));
    return {};
}

Status parseSwitch(std::string_view name, std::string_view value, int& out) {
    for (std::string_view on : {"on", "yes", "true", "1"})
        if (value == on) {
            out = 1;
            return {};
        }
    for (std::string_view off : {"off", "no", "false", "0"})
        if (value == off) {
            out = 0;
            return {};
        }
    return bad(name, value, "on or off");
}

// Picks the index of `value` among `words`; each entry may hold aliases "a|b".
Status parseChoice(std::string_view name, std::string_view value, std::span<const std::string_view> words,
                   int& out) {
    std::string expected = "one of";
    int index = 0;
    for (std::string_view entry : words) {
        expected += (index == 0 ? " " : ", ") + std::string(entry.substr(0, entry.find('|')));
        for (size_t begin = 0;;) {
            const size_t bar = entry.find('|', begin);
            if (entry.substr(begin, bar - begin) == value) {
                out = index;
                return {};
            }
            if (bar == std::string_view::npos) break;
            begin = bar + 1;
        }
        ++index;
    }
    return bad(name, value, expected);
}

Status setSwitch(Options& o, ConfigArg arg, std::string_view value, std::string_view name) {
    int v = 0;
    if (Status s = parseSwitch(name, value, v); !s.ok()) return s;
    o.config[arg] = v;
    return {};
}

constexpr std::string_view kChannelWords[] = {"luma|y|l", "red|r", "green|g", "blue|b"};

Status parseChannels(Options& o, std::string_view value, std::string_view name) {
    constexpr ConfigArg kChannelArgs[] = {kArgLuma, kArgRed, kArgGreen, kArgBlue};
    constexpr size_t kChannels = std::size(kChannelArgs);
    int on[kChannels] = {};
    if (value == "all") {
        for (int& c : on) c = 1;
    } else if (value != "none") {
        if (value.empty()) return bad(name, value, "a list of channels");
        for (size_t begin = 0; begin <= value.size();) {
            const size_t comma = std::min(value.find(',', begin), value.size());
            int channel = 0;
            if (!parseChoice(name, value.substr(begin, comma - begin), kChannelWords, channel).ok())
                return bad(name, value,
                           "a list of channels (luma, red, green, blue, comma-separated; or all, none)");
            on[channel] = 1;
            begin = comma + 1;
        }
    }
    for (size_t i = 0; i < kChannels; ++i) o.config[kChannelArgs[i]] = on[i];
    return {};
}

constexpr std::string_view kTimeExpected = "a time (4.8, 1:02.5, 1:00:00, 500ms)";

// FFmpeg's time durations: [[hours:]minutes:]seconds, or seconds with "s",
// "ms" or "us" after them.
bool parseTime(std::string_view value, double& out) {
    constexpr double kMillisecond = 1e-3, kMicrosecond = 1e-6;
    std::string_view rest = value;
    double unit = 1.0;
    if (rest.ends_with("ms")) {
        unit = kMillisecond;
        rest.remove_suffix(2);
    } else if (rest.ends_with("us")) {
        unit = kMicrosecond;
        rest.remove_suffix(2);
    } else if (rest.ends_with('s')) {
        rest.remove_suffix(1);
    }
    double seconds = 0.0;
    int64_t fields[2] = {0, 0};
    int colons = 0;
    for (size_t c = rest.find(':'); c != std::string_view::npos; c = rest.find(':')) {
        if (colons == 2 || unit != 1.0 || !parseInt64(rest.substr(0, c), fields[colons]) ||
            fields[colons] < 0)
            return false;
        ++colons;
        rest.remove_prefix(c + 1);
    }
    if (!parseDouble(rest, seconds)) return false;
    if (colons > 0 && seconds >= kSecondsPerMinute) return false;
    if (colons == 2 && fields[1] >= kMinutesPerHour) return false;
    const int64_t hours = colons == 2 ? fields[0] : 0;
    const int64_t minutes = colons == 2 ? fields[1] : fields[0];
    // In double: hours of any size must not overflow a 64-bit count.
    out = ((static_cast<double>(hours) * kMinutesPerHour + static_cast<double>(minutes)) * kSecondsPerMinute +
           seconds) *
          unit;
    return true;
}

Status parseStart(Options& o, std::string_view value, std::string_view name) {
    StartPoint p;
    p.text = std::string(value);
    const std::string expected = "a frame number (120f) or " + std::string(kTimeExpected);
    int64_t frame = 0;
    if (value.ends_with('f')) {
        if (!parseInt64(value.substr(0, value.size() - 1), frame) || frame < 0)
            return bad(name, value, expected);
        p.frame = frame;
    } else {
        p.isTime = true;
        if (!parseTime(value, p.seconds)) return bad(name, value, expected);
    }
    o.start = p;
    return {};
}

Status parseDuration(Options& o, std::string_view value, std::string_view name) {
    double t = 0.0;
    if (!parseTime(value, t) || t <= 0.0) return bad(name, value, "a length of time above 0 (2.5, 0:10)");
    o.duration = t;
    return {};
}

Status parseEndTime(Options& o, std::string_view value, std::string_view name) {
    double t = 0.0;
    if (!parseTime(value, t)) return bad(name, value, kTimeExpected);
    o.endTime = t;
    return {};
}

constexpr int kMaxThreads = 1024;

Status parseThreads(Options& o, std::string_view value, std::string_view name) {
    int64_t n = 0;
    Status s = parseRange(name, value, 0, kMaxThreads, n);
    if (s.ok()) o.threads = static_cast<int>(n);
    return s;
}

Status parseStartNumber(Options& o, std::string_view value, std::string_view name) {
    int64_t n = 0;
    Status s = parseRange(name, value, 0, INT32_MAX, n);
    if (s.ok()) o.startNumber = n;
    return s;
}

// FFmpeg's log level words, quietest first, with their values (libavutil/log.h).
constexpr std::string_view kLogLevelWords[] = {"quiet", "panic",   "fatal", "error", "warning",
                                               "info",  "verbose", "debug", "trace"};
constexpr int kLogLevels[] = {kLibraryLogQuiet, 0, 8, 16, 24, kLibraryLogInfo, 40, 48, 56};
static_assert(std::size(kLogLevelWords) == std::size(kLogLevels));

Status parseLogLevel(Options& o, std::string_view value, std::string_view name) {
    int index = 0;
    if (parseChoice(name, value, kLogLevelWords, index).ok()) {
        o.logLevel = kLogLevels[index];
        return {};
    }
    int64_t level = 0;
    if (parseInt64(value, level) && level >= kLibraryLogQuiet &&
        level <= kLogLevels[std::size(kLogLevels) - 1]) {
        o.logLevel = static_cast<int>(level);
        return {};
    }
    return bad(name, value,
               "one of quiet, panic, fatal, error, warning, info, verbose, debug, trace, or a number");
}

Status setVerbose(Options& o, std::string_view, std::string_view) {
    o.logLevel = kLibraryLogInfo;
    return {};
}

Status parseCardSize(Options& o, std::string_view value, std::string_view name) {
    const size_t x = value.find('x');
    int64_t w = 0, h = 0;
    if (x == std::string_view::npos || !parseInt64(value.substr(0, x), w) ||
        !parseInt64(value.substr(x + 1), h) || w < 1 || h < 1 || w > kMaxCardSide || h > kMaxCardSide)
        return bad(name, value, "a size WxH with sides from 1 to " + std::to_string(kMaxCardSide));
    o.cardWidth = static_cast<int32_t>(w);
    o.cardHeight = static_cast<int32_t>(h);
    return {};
}

// The choices store 1 for their first word.
constexpr std::string_view kSystemWords[] = {"ntsc", "pal"};
constexpr std::string_view kMatrixWords[] = {"601", "709"};
constexpr std::string_view kRangeWords[] = {"0-255|full", "16-235|studio"};
constexpr int kFirstIsOn[] = {1, 0};
constexpr std::string_view kChangeWords[] = {"black", "intensity", "saturation"};
constexpr int kChangeActions[] = {kHotFixToBlack, kHotFixIntensity, kHotFixSaturation};
static_assert(std::size(kChangeActions) == kHotFixCount);

const Choice kSystemChoice = {kArgNtsc, kSystemWords, kFirstIsOn};
const Choice kMatrixChoice = {kArgStdDef, kMatrixWords, kFirstIsOn};
const Choice kRangeChoice = {kArgRng255, kRangeWords, kFirstIsOn};
const Choice kChangeChoice = {kArgHotFix, kChangeWords, kChangeActions};

// One display name sets the mode (the picture: pass-through); a list of
// them asks for a monitor.
Status parseDisplay(Options& o, std::string_view value, std::string_view) {
    bool single = false;
    MonitorTile tile;
    if (Status s = parseDisplayList(value, o.monitor, single, tile); !s.ok()) return s;
    if (single) o.config[tile.picture ? kArgPassthru : kArgMode] = tile.picture ? 1 : tile.mode;
    return {};
}

Status parseMonitorLayout(Options& o, std::string_view value, std::string_view) {
    return parseLayout(value, o.monitor);
}
Status parseMonitorPictureSize(Options& o, std::string_view value, std::string_view) {
    return parsePictureSize(value, o.monitor);
}
Status parseMonitorCrop(Options& o, std::string_view value, std::string_view) {
    return parseCrop(value, o.monitor);
}
Status setMonitorLabels(Options& o, std::string_view, std::string_view) {
    o.monitor.labels = true;
    return {};
}

Status parseFrames(Options& o, std::string_view value, std::string_view name) {
    int64_t frames = 0;
    Status s = parseRange(name, value, 1, INT64_MAX, frames);
    if (s.ok()) o.frames = frames;
    return s;
}

// "auto": the filter's setting follows the input's matrix or range.
Status parseFilterLevels(Options& o, std::string_view value, std::string_view name) {
    const bool matrix = name == "--matrix";
    const Choice& choice = matrix ? kMatrixChoice : kRangeChoice;
    (matrix ? o.matrixAuto : o.rangeAuto) = value == "auto";
    if (value == "auto") {
        o.config[choice.arg].reset();
        return {};
    }
    int index = 0;
    if (Status s = parseChoice(name, value, choice.words, index); !s.ok())
        return bad(name, value, matrix ? "one of 601, 709, auto" : "one of 0-255, 16-235, auto");
    o.config[choice.arg] = choice.values[static_cast<size_t>(index)];
    return {};
}

constexpr std::string_view kInputMatrixWords[] = {"601", "709", "2020"};
constexpr YuvMatrix kInputMatrices[] = {YuvMatrix::Bt601, YuvMatrix::Bt709, YuvMatrix::Bt2020};
constexpr std::string_view kInputRangeWords[] = {"tv|limited|mpeg", "pc|full|jpeg"};

Status parseInputMatrix(Options& o, std::string_view value, std::string_view name) {
    int index = 0;
    Status s = parseChoice(name, value, kInputMatrixWords, index);
    if (s.ok()) o.inputLevels.matrix = kInputMatrices[index];
    return s;
}

Status parseInputRange(Options& o, std::string_view value, std::string_view name) {
    int index = 0;
    Status s = parseChoice(name, value, kInputRangeWords, index);
    if (s.ok()) o.inputLevels.fullRange = index == 1;
    return s;
}

// Which field comes first does not move any chroma: either says "interlaced".
constexpr std::string_view kFieldOrderWords[] = {"progressive", "tff", "bff"};

Status parseFieldOrder(Options& o, std::string_view value, std::string_view name) {
    int index = 0;
    Status s = parseChoice(name, value, kFieldOrderWords, index);
    if (s.ok()) o.inputLevels.fields = index != 0;
    return s;
}

Status parseMaxIre(Options& o, std::string_view value, std::string_view name) {
    int64_t ire = 0;
    Status s = parseRange(name, value, kMaxIreLowest, kMaxIreHighest, ire);
    if (s.ok()) o.maxIre = static_cast<int>(ire);
    return s;
}

Status parsePadPitch(Options& o, std::string_view value, std::string_view name) {
    int64_t pad = 0;
    Status s = parseRange(name, value, 0, kMaxPadPitch, pad);
    if (s.ok()) o.padPitch = static_cast<int32_t>(pad);
    return s;
}

Status takeNothing(Options&, std::string_view, std::string_view) { return {}; }

// FFmpeg's spellings where it has the same idea (-ss, -t, -frames, -c:v ...);
// long names for what is ours alone.
const OptionEntry kOptions[] = {
    {.name = "output", .letter = 'o', .arg = Arg::Required, .text = &Options::output},
    {.name = "format", .letter = 'f', .arg = Arg::Required, .text = &Options::format, .joinedValue = false},
    {.name = "c",
     .letter = 0,
     .arg = Arg::Required,
     .dashes = Dashes::One,
     .text = &Options::codec,
     .perStream = true},
    {.name = "codec",
     .letter = 0,
     .arg = Arg::Required,
     .dashes = Dashes::One,
     .text = &Options::codec,
     .perStream = true},
    {.name = "vcodec", .letter = 0, .arg = Arg::Required, .dashes = Dashes::One, .text = &Options::codec},
    {.name = "pix_fmt",
     .letter = 0,
     .arg = Arg::Required,
     .dashes = Dashes::One,
     .text = &Options::pixelFormat,
     .perStream = true},
    {.name = "null", .letter = 0, .arg = Arg::None, .flag = &Options::nullOutput},
    {.name = "verify", .letter = 0, .arg = Arg::Required, .text = &Options::verifyFile},
    {.name = "display", .letter = 'd', .arg = Arg::Required, .apply = parseDisplay},
    {.name = "layout", .letter = 0, .arg = Arg::Required, .apply = parseMonitorLayout},
    {.name = "picture-size", .letter = 0, .arg = Arg::Required, .apply = parseMonitorPictureSize},
    {.name = "crop", .letter = 0, .arg = Arg::Required, .apply = parseMonitorCrop},
    {.name = "labels", .letter = 0, .arg = Arg::None, .apply = setMonitorLabels},
    {.name = "channels", .letter = 0, .arg = Arg::Required, .apply = parseChannels},
    {.name = "system", .letter = 0, .arg = Arg::Required, .choice = &kSystemChoice},
    {.name = "matrix", .letter = 0, .arg = Arg::Required, .apply = parseFilterLevels},
    {.name = "range", .letter = 0, .arg = Arg::Required, .apply = parseFilterLevels},
    {.name = "gamma", .letter = 0, .arg = Arg::Switch, .switchArg = kArgGamma},
    {.name = "grid", .letter = 0, .arg = Arg::Switch, .switchArg = kArgWfmGrid},
    {.name = "accumulate", .letter = 0, .arg = Arg::Switch, .switchArg = kArgAccum},
    {.name = "passthru", .letter = 0, .arg = Arg::Switch, .switchArg = kArgPassthru},
    {.name = "change", .letter = 0, .arg = Arg::Required, .choice = &kChangeChoice},
    {.name = "max-ire", .letter = 0, .arg = Arg::Required, .apply = parseMaxIre},
    {.name = "script", .letter = 0, .arg = Arg::Required, .text = &Options::scriptFile},
    {.name = "print-config", .letter = 0, .arg = Arg::None, .flag = &Options::printConfig},
    {.name = "ss", .letter = 0, .arg = Arg::Required, .dashes = Dashes::One, .apply = parseStart},
    {.name = "t", .letter = 0, .arg = Arg::Required, .dashes = Dashes::One, .apply = parseDuration},
    {.name = "to", .letter = 0, .arg = Arg::Required, .dashes = Dashes::One, .apply = parseEndTime},
    {.name = "frames",
     .letter = 0,
     .arg = Arg::Required,
     .dashes = Dashes::One,
     .apply = parseFrames,
     .perStream = true},
    {.name = "vframes", .letter = 0, .arg = Arg::Required, .dashes = Dashes::One, .apply = parseFrames},
    {.name = "start_number",
     .letter = 0,
     .arg = Arg::Required,
     .dashes = Dashes::One,
     .apply = parseStartNumber},
    {.name = "threads", .letter = 0, .arg = Arg::Required, .dashes = Dashes::One, .apply = parseThreads},
    {.name = "skip-errors", .letter = 0, .arg = Arg::None, .flag = &Options::skipErrors},
    {.name = "input-matrix", .letter = 0, .arg = Arg::Required, .apply = parseInputMatrix},
    {.name = "input-range", .letter = 0, .arg = Arg::Required, .apply = parseInputRange},
    {.name = "field-order", .letter = 0, .arg = Arg::Required, .apply = parseFieldOrder},
    {.name = "noautorotate",
     .letter = 0,
     .arg = Arg::None,
     .dashes = Dashes::One,
     .flag = &Options::noAutorotate},
    {.name = "keep-partial", .letter = 0, .arg = Arg::None, .flag = &Options::keepPartial},
    {.name = "overwrite", .letter = 'y', .arg = Arg::None, .flag = &Options::overwrite},
    {.name = "no-overwrite", .letter = 'n', .arg = Arg::None, .flag = &Options::neverOverwrite},
    {.name = "module", .letter = 0, .arg = Arg::Required, .text = &Options::modulePath},
    {.name = "pad-pitch", .letter = 0, .arg = Arg::Required, .apply = parsePadPitch},
    {.name = "card-size", .letter = 0, .arg = Arg::Required, .apply = parseCardSize},
    {.name = "quiet", .letter = 'q', .arg = Arg::None, .flag = &Options::quiet},
    {.name = "loglevel",
     .letter = 'v',
     .arg = Arg::Required,
     .dashes = Dashes::One,
     .apply = parseLogLevel,
     .joinedValue = false},
    {.name = "verbose", .letter = 0, .arg = Arg::None, .apply = setVerbose},
    // The output never holds these streams: FFmpeg's "leave them out" asks for nothing more.
    {.name = "an", .letter = 0, .arg = Arg::None, .dashes = Dashes::One, .apply = takeNothing},
    {.name = "sn", .letter = 0, .arg = Arg::None, .dashes = Dashes::One, .apply = takeNothing},
    {.name = "dn", .letter = 0, .arg = Arg::None, .dashes = Dashes::One, .apply = takeNothing},
    {.name = "help", .letter = 'h', .arg = Arg::None},
    {.name = "version", .letter = 0, .arg = Arg::None},
};

// FFmpeg options with no counterpart here, refused with the reason rather
// than taken for a short option and its value ("-r 25" is not "-r" + "25",
// "-vf" is not "-v f"), so that a command line copied from FFmpeg never runs
// with a wish quietly dropped.
struct Refusal {
    std::string_view name;
    std::string_view why;
};

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
struct InputOnly {
    std::string_view name;
    const char* key;  // the demuxer's option
};
constexpr InputOnly kInputOnly[] = {
    {"s", "video_size"},        {"video_size", "video_size"},     {"r", "framerate"},
    {"framerate", "framerate"}, {"pixel_format", "pixel_format"},
};
constexpr std::string_view kInputFlag = "-i";

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

Status badSpecifier(std::string_view shown, std::string_view specifier) {
    return Status::fail(std::string(shown) + ": " + quoted(specifier) +
                        " is not a stream specifier kivrel takes (v, v:0)");
}

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

Status applyOption(const OptionEntry& entry, Options& o, std::string_view value, std::string_view shown) {
    if (entry.flag != nullptr) {
        o.*entry.flag = true;
        return {};
    }
    if (entry.text != nullptr) {
        // Empty means "not given" to the rest of the host: an empty name must not pass for a default.
        if (value.empty()) return Status::fail(std::string(shown) + ": the value is empty");
        o.*entry.text = value;
        return {};
    }
    if (entry.choice != nullptr) {
        int index = 0;
        Status s = parseChoice(shown, value, entry.choice->words, index);
        if (s.ok()) o.config[entry.choice->arg] = entry.choice->values[static_cast<size_t>(index)];
        return s;
    }
    if (entry.arg == Arg::Switch) return setSwitch(o, static_cast<ConfigArg>(entry.switchArg), value, shown);
    return entry.apply(o, value, shown);
}

const OptionEntry* findLong(std::string_view name, Dashes dashes) {
    for (const OptionEntry& entry : kOptions)
        if (name == entry.name && entry.dashes == dashes) return &entry;
    return nullptr;
}

const OptionEntry* findShort(char letter) {
    for (const OptionEntry& entry : kOptions)
        if (entry.letter != 0 && entry.letter == letter) return &entry;
    return nullptr;
}

}  // namespace

Status checkEndAfterStart(const Options& options, double startSeconds) {
    if (!options.endTime || *options.endTime > startSeconds) return {};
    std::string at;
    if (!options.start.isTime) at = ", which is at " + formatSeconds(startSeconds) + " s";
    return Status::fail("-to " + formatSeconds(*options.endTime) + " is not after -ss " + options.start.text +
                        at);
}

Status parseCommandLine(int argc, const char* const* argv, Options& options, Action& action,
                        bool manyInputs) {
    options = Options{};
    action = Action::Run;
    bool optionsEnded = false;
    auto addInput = [&options, manyInputs](std::string_view arg) {
        if (!options.input.empty() && !manyInputs)
            return Status::fail("more than one input: " + quoted(options.input) + " and " + quoted(arg));
        if (arg.empty()) return Status::fail("the input file name is empty");
        if (options.input.empty()) options.input = arg;
        options.inputs.emplace_back(arg);
        return Status();
    };
    auto apply = [&options, &action](const OptionEntry& entry, std::string_view value,
                                     std::string_view shown) {
        const std::string_view name = entry.name;
        if (name == "help" || name == "version") {
            action = name == "help" ? Action::Help : Action::Version;
            return Status();
        }
        return applyOption(entry, options, value, shown);
    };

    // FFmpeg's rule: what comes before -i describes that input. The output
    // options that may mean the input (-f, -pix_fmt, -start_number) move to
    // it there; the input's own (-s, -r ...) wait in `pending` until then.
    std::vector<DemuxerOption> pending;
    bool inputFlagSeen = false;
    auto takeInputFlag = [&](std::string_view file) {
        const bool described = !options.format.empty() || !options.pixelFormat.empty() ||
                               options.startNumber.has_value() || !pending.empty();
        if (inputFlagSeen && described)
            return Status::fail(
                "options before a second -i: every input is read alike; give -f, -pix_fmt, -s, -r and "
                "-start_number once, before the first -i");
        inputFlagSeen = true;
        if (!options.format.empty()) options.inputFormat = std::exchange(options.format, {});
        if (!options.pixelFormat.empty())
            pending.push_back({"pixel_format", std::exchange(options.pixelFormat, {}), "-pix_fmt"});
        if (options.startNumber) options.inputStartNumber = std::exchange(options.startNumber, std::nullopt);
        for (DemuxerOption& o : pending) {
            if (Status s = checkDemuxerValue(o); !s.ok()) return s;
            options.demuxerOptions.push_back(std::move(o));
        }
        pending.clear();
        return addInput(file);
    };

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnded && arg == kInputFlag) {
            if (i + 1 >= argc) return Status::fail("-i needs a value");
            if (Status s = takeInputFlag(argv[++i]); !s.ok()) return s;
            continue;
        }
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            if (Status s = addInput(arg); !s.ok()) return s;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg[1] == '-') {
            std::string_view name = arg.substr(2);
            std::optional<std::string_view> value;
            if (const size_t eq = name.find('='); eq != std::string_view::npos) {
                value = name.substr(eq + 1);
                name = name.substr(0, eq);
            }
            const OptionEntry* entry = findLong(name, Dashes::Two);
            std::string_view switchValue = "on";
            if (entry == nullptr && name.substr(0, 3) == "no-") {
                entry = findLong(name.substr(3), Dashes::Two);
                if (entry != nullptr && entry->arg != Arg::Switch) entry = nullptr;
                if (entry != nullptr && value)
                    return Status::fail("--" + std::string(name) + " takes no value");
                switchValue = "off";
            }
            if (entry == nullptr) return Status::fail("unknown option " + quoted(arg));
            const std::string shown = "--" + std::string(entry->name);
            switch (entry->arg) {
            case Arg::None:
                if (value) return Status::fail(shown + " takes no value");
                break;
            case Arg::Switch:
                if (!value) value = switchValue;
                break;
            case Arg::Required:
                if (!value) {
                    if (i + 1 >= argc) return Status::fail(shown + " needs a value");
                    value = argv[++i];
                }
                break;
            }
            if (Status s = apply(*entry, value.value_or(""), shown); !s.ok()) return s;
            continue;
        }
        // FFmpeg's own spelling, one dash and a word, perhaps with a stream
        // specifier ("-frames:v"): the value is the next argument.
        const std::string_view word = arg.substr(1);
        const size_t colon = word.find(':');
        const std::string_view base = word.substr(0, colon);
        const OptionEntry* entry = findLong(base, Dashes::One);
        const Refusal* refusal = entry == nullptr ? findRefusal(base) : nullptr;
        if (const InputOnly* in = findInputOnly(base); in != nullptr) {
            if (colon != std::string_view::npos)
                if (Status s = checkSpecifier(arg, word.substr(colon + 1), true); !s.ok()) return s;
            if (!inputFlagSeen) {
                if (i + 1 >= argc) return Status::fail(std::string(arg) + " needs a value");
                pending.push_back({in->key, argv[++i], std::string(arg)});
                continue;
            }
            if (refusal == nullptr)
                return Status::fail(std::string(arg) + ": it describes the input: give it before -i FILE");
        }
        if (colon != std::string_view::npos && (entry != nullptr || refusal != nullptr))
            if (Status s = checkSpecifier(arg, word.substr(colon + 1), entry == nullptr || entry->perStream);
                !s.ok())
                return s;
        if (refusal != nullptr) return Status::fail(std::string(arg) + ": " + std::string(refusal->why));
        if (entry != nullptr) {
            const std::string shown(arg);
            std::string_view value = "on";
            if (entry->arg == Arg::Required) {
                if (i + 1 >= argc) return Status::fail(shown + " needs a value");
                value = argv[++i];
            }
            if (Status s = apply(*entry, value, shown); !s.ok()) return s;
            continue;
        }
        // Short options: flags may be grouped ("-yq"); a value may follow
        // directly ("-dvideo") or as the next argument.
        for (size_t k = 1; k < arg.size(); ++k) {
            const OptionEntry* entry = findShort(arg[k]);
            // The word is named too: "-hide_banner" is not "-h" and an unknown "-i".
            if (entry == nullptr && k == 1) return Status::fail("unknown option " + quoted(arg));
            if (entry == nullptr)
                return Status::fail("unknown option " + quoted("-" + std::string(1, arg[k])) + " in " +
                                    quoted(arg));
            const std::string shown = "-" + std::string(1, arg[k]);
            if (entry->arg != Arg::Required) {
                if (Status s = apply(*entry, "on", shown); !s.ok()) return s;
                continue;
            }
            std::string_view value = arg.substr(k + 1);
            if (!value.empty() && !entry->joinedValue) return Status::fail("unknown option " + quoted(arg));
            if (value.empty()) {
                if (i + 1 >= argc) return Status::fail(shown + " needs a value");
                value = argv[++i];
            }
            if (Status s = apply(*entry, value, shown); !s.ok()) return s;
            break;
        }
    }
    if (!pending.empty()) {
        const std::string shown = pending.front().shown;
        const std::string name = shown.substr(1, shown.find(':') - 1);
        const Refusal* refusal = findRefusal(name);
        return Status::fail(shown + ": " +
                            (refusal != nullptr ? std::string(refusal->why) + "; before " : "") +
                            (refusal != nullptr ? "-i FILE it describes a raw input"
                                                : "it describes the input: give it before -i FILE"));
    }
    if (!inputFlagSeen) options.inputStartNumber = options.startNumber;  // a positional input: both
    if (options.overwrite && options.neverOverwrite) return Status::fail("-y and -n cannot go together");
    if (options.duration && options.endTime) return Status::fail("-t and -to cannot go together");
    if (options.start.isTime)
        if (Status s = checkEndAfterStart(options, options.start.seconds); !s.ok()) return s;
    if (options.nullOutput && !options.output.empty())
        return Status::fail("--null and --output cannot go together");
    if (!options.format.empty()) {
        const OutputFormat* format = nullptr;
        std::string muxer;
        if (Status s = outputFormatByName(options.format, format, muxer); !s.ok()) return s;
        if (options.nullOutput && format->name != kNullOutputName)
            return Status::fail("--null and -f " + options.format + " cannot go together");
        if (format->name == kNullOutputName && !options.output.empty())
            return Status::fail("-f null writes nothing: leave out -o");
    }
    if (!options.input.empty() && options.cardWidth > 0)
        return Status::fail("--card-size is for the built-in test card, not for " + quoted(options.input));
    return {};
}

bool hasConfigOverrides(const Options& options) {
    for (const auto& v : options.config)
        if (v) return true;
    return false;
}

void applyConfigOverrides(const Options& options, ConfigArgs& args) {
    for (size_t i = 0; i < args.size(); ++i)
        if (options.config[i]) args[i] = *options.config[i];
}
