#include "report/check_file.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "convert/frame_converter.h"
#include "input/colour_standards.h"
#include "input/input.h"
#include "input/rotation.h"
#include "input/source_luma.h"
#include "os/signals.h"
#include "os/slice_workers.h"
#include "output/frame_hash.h"
#include "pluginhost/script_call.h"
#include "report/frame_meter.h"
#include "report/missing_frames.h"
#include "report/picture.h"
#include "report/report_writers.h"
#include "report/source_measure.h"
#include "run/filter_setup.h"
#include "run/pipeline.h"
#include "run/read.h"
#include "run/read_rules.h"
#include "settings/script_command.h"
#include "settings/settings_store.h"
#include "vocabulary.h"

namespace {

Status argsOf(FilterInstance& inst, ConfigArgs& args) {
    const std::string line = inst.scriptLine();
    if (line.empty() || !configArgsOfLine(line, args))
        return Status::fail("cannot read the filter's settings back from its script line '" + line + "'");
    return {};
}

// The settings of one display for an instance: the shared ones, that
// display, not passed through.
Status showDisplay(FilterInstance& inst, ConfigArgs args, DisplayMode mode) {
    args[kArgMode] = static_cast<int>(mode);
    args[kArgPassthru] = 0;
    args[kArgHotFix] = kHotFixToBlack;  // the scan's own mark: a changed pixel is a hot one
    return inst.runScriptLine(formatConfigLine(args));
}

std::string settingsText(const ScopeSettings& s) {
    return std::string(systemWord(s.ntsc != 0)) + ", " + matrixWord(s.stdDef != 0) + ", " +
           rangeWord(s.rng255 != 0) + (s.gamma ? ", gamma corrected" : "") + ", max " +
           std::to_string(s.maxIRE) + " IRE";
}

// The region of `from` into `to`, which takes the region's size.
void copyFrame(const FrameBuffer& from, const CropRegion& region, FrameBuffer& to) {
    if (to.w() != region.w || to.h() != region.h)
        to = FrameBuffer(region.w, region.h, kBytesPerPixel * static_cast<ptrdiff_t>(region.w));
    const ConstFrame a = from.frame();
    const Frame b = to.frame();
    for (int32_t y = 0; y < region.h; ++y)
        std::memcpy(b.canvasRow(y), a.canvasRow(region.y + y) + region.x,
                    static_cast<size_t>(region.w) * sizeof(uint32_t));
}

// The whole frame prepared last, at `levels`, into `to`.
void keepWhole(const FrameConverter& converter, RgbLevels levels, const SourceInfo& info, FrameBuffer& to) {
    if (to.w() != info.w || to.h() != info.h)
        to = FrameBuffer(info.w, info.h, kBytesPerPixel * static_cast<ptrdiff_t>(info.w));
    converter.rows(levels, 0, to.frame());
}

constexpr int kRgbLumaBits = 8;  // the luma of a source coded as RGB is tallied at 8 bits

// Rows of a band: the two pictures of one band together stay within a
// core's own cache.
constexpr int32_t kBandBytes = 64 * 1024;

// A frame worth showing: its pictures as each display got them.
struct Kept {
    int index = -1;  // into the report's frames
    FrameBuffer luma, hot;
};

// The hot pixel picture shows the whole frame (the page outlines the
// region on it); the waveform, a measure, the region only.
Status renderFigure(FileInstances& instances, const Kept& kept, const CropRegion& region,
                    const FrameNumbers& numbers, const char* why, Figure& figure) {
    figure.frame = numbers.frame;
    figure.time = numbers.time;
    figure.why = why;
    figure.hotPixels = numbers.hotPixels;
    // The two pictures at once: each has an instance of its own.
    Status hotDone;
    std::thread thumbnail([&] {
        FilterInstance& hot = *instances.hot;
        copyFrame(kept.hot, {kept.hot.w(), kept.hot.h(), 0, 0}, hot.source());
        hotDone = hot.run(numbers.frame);
        if (hotDone.ok()) hotDone = thumbnailPng(kept.hot.frame(), hot.output().frame(), figure.thumbnail);
    });
    FilterInstance& wave = *instances.waveform;
    copyFrame(kept.luma, region, wave.source());
    Status waveDone = wave.run(numbers.frame);
    if (waveDone.ok()) waveDone = encodePng(wave.output().frame(), figure.waveform);
    thumbnail.join();
    return hotDone.ok() ? waveDone : hotDone;
}

// The k-th of n shares of the window's rows.
PlaneWindow shareOf(const PlaneWindow& whole, int k, int n) {
    const int32_t rows = whole.last - whole.first;
    return {whole.first + rows * k / n, whole.first + rows * (k + 1) / n, whole.left, whole.right};
}

// The region's columns of some rows.
ConstFrame columnsOf(const Frame& rows, const CropRegion& region) {
    return {rows.data + region.x, region.w, rows.h, rows.pitch, rows.pitch - region.w * kBytesPerPixel};
}

// Read in pieces of this size: large enough that the reads cost little,
// small enough to stay in cache while hashed.
constexpr size_t kHashChunkBytes = 1 << 20;

// The size and MD5 of the input's bytes, when it is a file: what ties a
// verdict to the exact file. Left unset (-1, "") for a stream, a device or a
// file that cannot be read, and on a signal, which ends the run.
void identifyFile(const std::string& path, FileReport& out) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return;
    std::ifstream in(path, std::ios::binary);
    Md5 md5;
    if (!in || !md5.open().ok()) return;
    std::vector<char> chunk(kHashChunkBytes);
    int64_t bytes = 0;
    while (in && pendingSignal() == 0) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const std::streamsize got = in.gcount();
        md5.add(reinterpret_cast<const uint8_t*>(chunk.data()), static_cast<size_t>(got));
        bytes += got;
    }
    if (in.bad() || !in.eof()) return;
    out.fileBytes = bytes;
    out.md5 = md5.hex();
}

}  // namespace

Status setUpInstances(const FilterModuleHost& module, const Options& options, FileInstances& out) {
    out.waveform = std::make_unique<FilterInstance>(module);
    out.hot = std::make_unique<FilterInstance>(module);
    if (Status s = configure(*out.waveform, options); !s.ok()) return s;
    if (Status s = configure(*out.hot, options); !s.ok()) return s;
    if (options.maxIre) {
        out.maxIre = *options.maxIre;
    } else {
        ScopeSettings stored{};
        loadSettings(stored);
        out.maxIre = stored.maxIRE;
    }
    return {};
}

Status checkFile(const ReportOptions& options, FileInstances& instances, FileReport& out) {
    const Options& o = options.common;
    // Beside the decode, on a core of its own while the decoder waits on the
    // disk or the measures on the decoder: the file's bytes are read once
    // more, never decoded again. Done (joined) whichever way this returns.
    std::jthread identity([&out] { identifyFile(out.input, out); });
    std::unique_ptr<Reader> reader;
    if (Status s = openReader(kMediaReaderName, readerParams(o, out.input), reader); !s.ok()) return s;
    const SourceInfo& info = reader->info();
    FilterInstance& wave = *instances.waveform;
    if (Status s = followSource(wave, o, info.levels); !s.ok()) return s;
    ConfigArgs args{};
    if (Status s = argsOf(wave, args); !s.ok()) return s;
    int raw[kConfigArgCount];
    std::copy(args.begin(), args.end(), raw);
    ScopeSettings settings{};
    applyConfigArgs(settings, raw);
    settings.maxIRE = instances.maxIre;

    const bool studio = settings.rng255 == 0;
    const RgbLevels lumaLevels =
        rgbLevelsFor(static_cast<int>(DisplayMode::Histograms), false, studio, info.levels);
    const RgbLevels hotLevels =
        rgbLevelsFor(static_cast<int>(DisplayMode::HotPixel), false, studio, info.levels);
    const bool twoPictures = lumaLevels != hotLevels;

    out.w = info.w;
    out.h = info.h;
    out.fps = info.timeline().framesPerSecond();
    const SourceLevels& lv = info.levels;
    out.matrix = lv.yuv ? kYuvMatrixNames[static_cast<int>(lv.matrix)] : kRgbMatrixName;
    out.range = lv.yuv && !lv.fullRange ? kLimitedRangeName : kFullRangeName;
    out.matrixAssumed = lv.matrixAssumed;
    out.rangeAssumed = lv.rangeAssumed;
    out.bits = lv.bits;
    out.hdrTransfer = info.hdrTransfer;
    out.startTimecode = info.startTimecode;
    out.codec = info.codec;
    out.seconds = info.seconds;
    out.filterSettings = settingsText(settings);
    // Every measure covers the region only, as if the picture were cut to it.
    CropRegion region{info.w, info.h, 0, 0};
    if (o.monitor.crop) {
        if (Status s = resolveCrop(*o.monitor.crop, info.w, info.h, region, info.sampleAspect); !s.ok()) {
            out.failure = kCropDoesNotFit;
            return s;
        }
        out.region = region;
        out.cropped = true;
    }

    // Only the page shows pictures: both module instances then render the
    // worst frames at the source's size.
    const bool figures = reportFormOf(options) == ReportForm::Html;
    if (figures) {
        if (Status s = showDisplay(wave, args, DisplayMode::Waveform); !s.ok()) return s;
        if (Status s = showDisplay(*instances.hot, args, DisplayMode::HotPixel); !s.ok()) return s;
        if (Status s = wave.prepare(region.w, region.h, 0); !s.ok()) return s;
        if (Status s = instances.hot->prepare(info.w, info.h, 0); !s.ok()) return s;
    }

    const FrameMeter meter(settings, region.w, region.h);
    const double tb =
        info.timeBase.den != 0 ? static_cast<double>(info.timeBase.num) / info.timeBase.den : 0.0;
    // Each frame is converted and measured a band of rows at a time, both
    // pictures of a band while it is in cache, the bands shared out among
    // the threads; the decoder works ahead on frames of its own meanwhile.
    // (Reading the next frame on a thread of its own while the last is
    // measured measured slower: the cores are busy either way.)
    FrameConverter converter(info, o.threads);
    const std::vector<RgbLevels> bandLevels =
        twoPictures ? std::vector<RgbLevels>{lumaLevels, hotLevels} : std::vector<RgbLevels>{lumaLevels};
    SliceWorkers workers(threadsFor(o));
    const int32_t bandRows = std::max<int32_t>(2, kBandBytes / (kBytesPerPixel * std::max(info.w, 1)) & ~1);
    struct Lane {
        FrameBuffer luma, hot;  // one band each
        FramePart part;
        SourcePart planes;
    };
    std::vector<Lane> lanes(static_cast<size_t>(workers.threads()));
    for (Lane& lane : lanes) {
        lane.luma = FrameBuffer(info.w, bandRows, kBytesPerPixel * static_cast<ptrdiff_t>(info.w));
        if (twoPictures)
            lane.hot = FrameBuffer(info.w, bandRows, kBytesPerPixel * static_cast<ptrdiff_t>(info.w));
    }
    // Each lane takes a run of bands in a row (handing them out one by one
    // as lanes come free measured slower: the rows then jump between cores).
    const int32_t bands = (region.h + bandRows - 1) / bandRows;
    // The source's own planes, measured as decoded: set up again should
    // the decoder change its format mid-stream, or the frames their
    // matrix, chroma siting or fields (which the render follows too).
    SourceGauge gauge;
    struct GaugeKey {
        int format = -1;
        YuvMatrix matrix = YuvMatrix::Bt601;
        AVChromaLocation site = AVCHROMA_LOC_UNSPECIFIED;
        bool fields = false;
        bool operator==(const GaugeKey&) const = default;
    } gaugeKey;
    bool planesMeasured = false;
    const auto measureLane = [&](int k) {
        Lane& lane = lanes[static_cast<size_t>(k)];
        lane.part = {};
        const int32_t n = static_cast<int32_t>(lanes.size());
        // The luma of a source without a Y plane comes from its RGB, which
        // the luma picture holds at full range.
        const AVFrame* decoded = reader->picture().decoded;
        const PlaneWindow window =
            decoded != nullptr ? shareOf(storedWindow({info.rotation, decoded->width, decoded->height},
                                                      region.x, region.y, region.w, region.h),
                                         k, n)
                               : PlaneWindow{};
        const bool yPlane = decoded != nullptr && tallyYPlane(*decoded, window, lane.part.sourceLuma);
        lane.planes.clear();
        if (planesMeasured)
            gauge.measure(*decoded, window, lane.planes);
        else if (decoded != nullptr)
            measureRgbPlanes(*decoded, window, lane.planes);
        for (int32_t band = bands * k / n; band < bands * (k + 1) / n; ++band) {
            const int32_t y = band * bandRows, rows = std::min(bandRows, region.h - y);
            const Frame luma = lane.luma.frame().storedRows(0, rows);
            const Frame hot = twoPictures ? lane.hot.frame().storedRows(0, rows) : luma;
            converter.rows(lumaLevels, region.y + y, luma);
            if (twoPictures) converter.rows(hotLevels, region.y + y, hot);
            const ConstFrame lumaRegion = columnsOf(luma, region);
            meter.measure(lumaRegion, twoPictures ? columnsOf(hot, region) : lumaRegion, lane.part);
            if (!yPlane) tallyRgbLuma(lumaRegion, lane.part.sourceLuma);
        }
    };

    // A still is measured once, however many times a render would repeat it.
    int64_t limit = -1;
    if (Status s = frameLimit(info, o, limit); !s.ok()) return s;
    // A report describes damage rather than stopping at it: damaged frames
    // are left out and listed, as is what a cut takes away.
    FrameReading reading(*reader, nullptr, ReadRules{o.frames.value_or(-1), 1, true, readStopFor(info, o)});
    // The worst frame of each measure so far, and the brightest as a stand-in
    // when a file breaks nothing.
    constexpr int kBrightest = kWorstMeasureCount;
    Kept kept[kWorstMeasureCount + 1];
    auto valueOf = [](const FrameNumbers& f, int measure) {
        return measure < kWorstMeasureCount ? kWorstMeasures[measure]->field.get(f)
                                            : static_cast<int64_t>(f.highest[kLuma]) + 1;
    };
    MissingFrames missing(info, o.start.atBeginning(), out.missing);
    int64_t first = -1;  // the number of the first frame measured
    FunctionSink sink;
    sink.onEnd = [&](const SourceItem& item) {
        missing.before(-1, item.skippedPts);
        // The frames the container states beyond the cut, as far as it tells.
        const double rate = info.timeline().framesPerSecond();
        if (item.cutShort && info.seconds > 0.0) {
            int64_t end = std::llround(info.seconds * rate);
            if (limit >= 0 && first >= 0) end = std::min(end, first + limit);
            missing.lostUpTo(end);
        }
    };
    sink.onFrame = [&](const RenderedFrame& frame) -> Status {
        const SourceItem& item = frame.item;
        const int64_t number = info.numberAt(item.meta.number, item.meta.pts);
        if (first < 0) first = number;
        missing.before(number, item.skippedPts);
        const DecodedPicture& picture = reader->picture();
        if (Status s = converter.prepareRows(picture, bandLevels); !s.ok()) return s;
        if (const AVFrame* decoded = picture.decoded; decoded != nullptr) {
            const SourceLevels levels = picture.levels;
            const GaugeKey key{decoded->format, levels.matrix, levels.chromaSite, levels.fields};
            if (key != gaugeKey) {
                gaugeKey = key;
                planesMeasured = gauge.setUp(decoded->format, decoded->width, decoded->height, levels);
                if (planesMeasured) gauge.setBounds(boundsFor(options.rules.range, gauge.bits()));
            }
        } else {
            planesMeasured = false;
            gaugeKey = {};
        }
        workers.run(static_cast<int32_t>(lanes.size()), [&](int32_t first, int32_t last) {
            for (int32_t k = first; k < last; ++k) measureLane(k);
        });
        FramePart whole;
        for (const Lane& lane : lanes) whole.add(lane.part);
        FrameNumbers f;
        f.frame = number;
        f.time = static_cast<double>(item.meta.pts) * tb;
        FrameMeter::numbers(whole, f);
        SourcePart planes;
        for (const Lane& lane : lanes) planes.add(lane.planes);
        sourceNumbers(planesMeasured ? &gauge : nullptr, planes, whole.sourceLuma, options.rules.range, f);
        out.frames.push_back(f);
        if (!figures) return {};
        const int index = static_cast<int>(out.frames.size()) - 1;
        for (int m = 0; m <= kBrightest; ++m) {
            const int64_t v = valueOf(f, m);
            if (v <= 0 || (kept[m].index >= 0 && v <= valueOf(out.frames[kept[m].index], m))) continue;
            kept[m].index = index;
            keepWhole(converter, lumaLevels, info, kept[m].luma);
            keepWhole(converter, hotLevels, info, kept[m].hot);
        }
        return {};
    };
    RunCounts n;
    Timing t;
    ReadingSource source(reading);
    if (Status s = flowFrames(source, sink, n, t); !s.ok()) return s;
    if (out.frames.empty()) return noFrames(info, o.start, n.skipped);
    noteLimits(options.rules.range, planesMeasured ? gauge.bits() : kRgbLumaBits, planesMeasured, out);
    summarise(options.rules, out);

    // One figure per frame, for the measures a rule looks at.
    std::vector<int> shown;
    for (int m = 0; m < kWorstMeasureCount; ++m) {
        const bool judged = kWorstMeasures[m]->worstFor == WorstFor::HotRule || options.rules.studioRange;
        if (!judged || kept[m].index < 0 ||
            std::find(shown.begin(), shown.end(), kept[m].index) != shown.end())
            continue;
        shown.push_back(kept[m].index);
        out.figures.emplace_back();
        if (Status s = renderFigure(instances, kept[m], region, out.frames[kept[m].index],
                                    kWorstMeasures[m]->worstName, out.figures.back());
            !s.ok())
            return s;
    }
    if (out.figures.empty() && kept[kBrightest].index >= 0) {
        out.figures.emplace_back();
        if (Status s = renderFigure(instances, kept[kBrightest], region, out.frames[kept[kBrightest].index],
                                    "brightest frame", out.figures.back());
            !s.ok())
            return s;
    }
    return {};
}
