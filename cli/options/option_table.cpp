#include "options/option_table.h"

#include <cmath>
#include <iterator>
#include <utility>

#include "core/setting_words.h"
#include "options/option_values.h"
#include "output/output.h"

namespace {

constexpr int32_t kMaxPadPitch = 4096;  // words per row; plenty to shake out pitch bugs
constexpr int32_t kMaxCardSide = 8192;

Status setSwitch(Options& o, ConfigArg arg, std::string_view value, std::string_view name) {
    int v = 0;
    if (Status s = parseSwitch(name, value, v); !s.ok()) return s;
    o.config[arg] = v;
    return {};
}

Status parseChannels(Options& o, std::string_view value, std::string_view name) {
    constexpr ConfigArg kChannelArgs[] = {kArgLuma, kArgRed, kArgGreen, kArgBlue};
    constexpr size_t kChannels = std::size(kChannelArgs);
    int on[kChannels] = {};
    if (value == kAllChannelsWord) {
        for (int& c : on) c = 1;
    } else if (value != kNoChannelsWord) {
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
constexpr int kFirstIsOn[] = {1, 0};
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

}  // namespace

Status applyOption(const OptionEntry& entry, Options& o, std::string_view value, std::string_view shown) {
    if (entry.flag != nullptr) {
        o.*entry.flag = true;
        return {};
    }
    if (entry.text != nullptr) {
        // Empty means "not given" to the rest of kivrel: an empty name must not pass for a default.
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
