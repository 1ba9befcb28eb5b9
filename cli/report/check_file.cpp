#include "report/check_file.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <thread>

#include "filter_setup.h"
#include "frame_queue.h"
#include "frame_reading.h"
#include "input/input.h"
#include "pipeline.h"
#include "pluginhost/script_call.h"
#include "report/frame_meter.h"
#include "report/picture.h"
#include "settings/script_command.h"
#include "settings/settings_store.h"

namespace {

Status argsOf(FilterInstance& inst, ConfigArgs& args) {
    const std::string line = inst.scriptLine();
    ScriptCall call;
    if (line.empty() || parseScriptCall(line, call) != LineKind::Call || !configArgsOf(call, args).ok())
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
    return std::string(s.ntsc ? "NTSC" : "PAL") + ", " + (s.stdDef ? "601" : "709") + ", " +
           (s.rng255 ? "0-255" : "16-235") + (s.gamma ? ", gamma corrected" : "") + ", max " +
           std::to_string(s.maxIRE) + " IRE";
}

void copyFrame(const FrameBuffer& from, FrameBuffer& to) {
    if (to.w() != from.w() || to.h() != from.h()) to = FrameBuffer(from.w(), from.h(), from.pitch());
    const ConstFrame a = from.frame();
    const Frame b = to.frame();
    for (int32_t k = 0; k < a.h; ++k)
        std::memcpy(b.storedRow(k), a.storedRow(k), static_cast<size_t>(a.w) * sizeof(uint32_t));
}

// A frame worth showing: its pictures as each display got them.
struct Kept {
    int index = -1;  // into the report's frames
    FrameBuffer luma, hot;
};

Status renderFigure(FileInstances& instances, const Kept& kept, const FrameNumbers& numbers, const char* why,
                    Figure& figure) {
    figure.frame = numbers.frame;
    figure.time = numbers.time;
    figure.why = why;
    figure.hotPixels = numbers.hotPixels;
    FilterInstance& hot = *instances.hot;
    copyFrame(kept.hot, hot.source());
    if (Status s = hot.run(numbers.frame); !s.ok()) return s;
    if (Status s = thumbnailPng(kept.hot.frame(), hot.output().frame(), figure.thumbnail); !s.ok()) return s;
    FilterInstance& wave = *instances.waveform;
    copyFrame(kept.luma, wave.source());
    if (Status s = wave.run(numbers.frame); !s.ok()) return s;
    return encodePng(wave.output().frame(), figure.waveform);
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
    reader->setRgbLevels(lumaLevels);

    out.w = info.w;
    out.h = info.h;
    out.fps = info.frameRate.den > 0 ? static_cast<double>(info.frameRate.num) / info.frameRate.den : 0.0;
    const SourceLevels& lv = info.levels;
    constexpr const char* kMatrixNames[] = {"BT.601", "BT.709", "BT.2020"};
    out.matrix = lv.yuv ? kMatrixNames[static_cast<int>(lv.matrix)] : "RGB";
    out.range = lv.yuv ? (lv.fullRange ? "full" : "limited") : "full";
    out.matrixAssumed = lv.matrixAssumed;
    out.rangeAssumed = lv.rangeAssumed;
    out.bits = lv.bits;
    out.filterSettings = settingsText(settings);

    // Both module instances render the worst frames at the source's size.
    if (Status s = showDisplay(wave, args, DisplayMode::Waveform); !s.ok()) return s;
    if (Status s = showDisplay(*instances.hot, args, DisplayMode::HotPixel); !s.ok()) return s;
    if (Status s = wave.prepare(info.w, info.h, 0); !s.ok()) return s;
    if (Status s = instances.hot->prepare(info.w, info.h, 0); !s.ok()) return s;

    FrameMeter meter(settings, info.w, info.h);
    const double tb =
        info.timeBase.den != 0 ? static_cast<double>(info.timeBase.num) / info.timeBase.den : 0.0;
    // A still is measured once, however many times a render would repeat it.
    FrameReading reading(*reader, ReadRules{frameLimit(info, o), 1, o.skipErrors});

    // The worst frame of each measure so far, and the brightest as a stand-in
    // when a file breaks nothing.
    constexpr int kBrightest = kWorstMeasureCount;
    Kept kept[kWorstMeasureCount + 1];
    auto valueOf = [](const FrameNumbers& f, int measure) {
        switch (measure) {
        case kWorstHot: return f.hotPixels;
        case kWorstBelow16: return f.below16;
        case kWorstAbove235: return f.above235;
        default: return static_cast<int64_t>(f.highest[kLuma]) + 1;
        }
    };
    // This thread reads and converts the next frame while another measures
    // the last one: each set of pictures goes back and forth between them,
    // and the measuring keeps the frames' order.
    struct Pictures {
        FrameBuffer luma, hot;
        FrameNumbers numbers;
    };
    constexpr int kPictureSets = 2;
    Pictures sets[kPictureSets];
    for (Pictures& p : sets) {
        p.luma = FrameBuffer(info.w, info.h, kBytesPerPixel * static_cast<ptrdiff_t>(info.w));
        if (twoPictures) p.hot = FrameBuffer(info.w, info.h, kBytesPerPixel * static_cast<ptrdiff_t>(info.w));
    }
    FrameQueue<int> unused(kPictureSets), read(kPictureSets);
    for (int k = 0; k < kPictureSets; ++k) unused.push(k);
    std::thread measuring([&] {
        for (int k = 0; read.pop(k) && k >= 0;) {
            Pictures& p = sets[k];
            const FrameBuffer& hotSource = twoPictures ? p.hot : p.luma;
            FrameNumbers& f = p.numbers;
            meter.measure(p.luma.frame(), hotSource.frame(), f);
            out.frames.push_back(f);
            const int index = static_cast<int>(out.frames.size()) - 1;
            for (int m = 0; m <= kBrightest; ++m) {
                const int64_t v = valueOf(f, m);
                if (v <= 0 || (kept[m].index >= 0 && v <= valueOf(out.frames[kept[m].index], m))) continue;
                kept[m].index = index;
                copyFrame(p.luma, kept[m].luma);
                copyFrame(hotSource, kept[m].hot);
            }
            unused.push(k);
        }
    });
    Status failed;
    for (int k = 0; failed.ok() && unused.pop(k);) {
        Pictures& p = sets[k];
        const SourceItem item = reading.next(p.luma);
        if (item.kind == SourceItem::Kind::Failed) failed = item.status;
        if (item.kind != SourceItem::Kind::Frame) break;
        if (twoPictures) failed = reader->readAgain(p.hot, hotLevels);
        p.numbers = FrameNumbers{};
        p.numbers.frame = item.meta.number;
        p.numbers.time = static_cast<double>(item.meta.pts) * tb;
        if (failed.ok()) read.push(k);
    }
    // The measuring takes what was read, then stops; a failure stops it at once.
    constexpr int kNoMore = -1;
    if (failed.ok())
        read.push(kNoMore);
    else
        read.close();
    measuring.join();
    if (!failed.ok()) return failed;
    if (out.frames.empty()) {
        if (!o.start.atBeginning())
            return Status::fail("-ss " + o.start.text + " is past the end of " + info.name);
        return Status::fail(info.name + ": holds no frames");
    }
    summarise(options.rules, out);

    // One figure per frame, for the measures a rule looks at.
    std::vector<int> shown;
    for (int m = 0; m < kWorstMeasureCount; ++m) {
        const bool judged = m == kWorstHot || options.rules.studioRange;
        if (!judged || kept[m].index < 0 ||
            std::find(shown.begin(), shown.end(), kept[m].index) != shown.end())
            continue;
        shown.push_back(kept[m].index);
        out.figures.emplace_back();
        if (Status s = renderFigure(instances, kept[m], out.frames[kept[m].index], kWorstMeasureNames[m],
                                    out.figures.back());
            !s.ok())
            return s;
    }
    if (out.figures.empty() && kept[kBrightest].index >= 0) {
        out.figures.emplace_back();
        if (Status s = renderFigure(instances, kept[kBrightest], out.frames[kept[kBrightest].index],
                                    "brightest frame", out.figures.back());
            !s.ok())
            return s;
    }
    return {};
}
