#include "pipeline.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "display_name.h"
#include "filter_setup.h"
#include "input/input.h"
#include "output/output.h"
#include "paths.h"
#include "pluginhost/module_host.h"
#include "progress.h"
#include "timing.h"
#include "verify.h"

namespace {

int fail(const Status& s) {
    report(s.message());
    return kExitFailure;
}

// What a run turns out: a still once, or --frames times as a clip.
struct Plan {
    int64_t stillRepeats = 1;
    int64_t expected = -1;  // frames to process, when known
    bool videoOut = false;
};

Plan planFor(const SourceInfo& info, const Options& options) {
    Plan p;
    p.stillRepeats = options.frames.value_or(1);
    p.videoOut = !info.still || p.stillRepeats > 1;
    p.expected = info.still ? p.stillRepeats : info.frameCount;
    if (!info.still && options.frames)
        p.expected = p.expected < 0 ? *options.frames : std::min(p.expected, *options.frames);
    return p;
}

Status openInput(const Options& options, std::unique_ptr<Reader>& reader) {
    ReaderParams params;
    params.path = options.input;
    params.start = options.start;
    params.levels = options.inputLevels;
    params.startNumber = options.startNumber;
    params.autorotate = !options.noAutorotate;
    params.cardWidth = options.cardWidth;
    params.cardHeight = options.cardHeight;
    return openReader(options.input.empty() ? kTestCardReaderName : kMediaReaderName, params, reader);
}

// The writer -f, --null or the output's name picks; with no name, one made
// from the input and the display.
Status openOutput(const Options& options, const SourceInfo& info, const Display& display, const Plan& plan,
                  const FrameBuffer& frame, const OutputFormat*& format, std::unique_ptr<Writer>& writer) {
    format = findOutputFormat(options.nullOutput ? kNullOutputName : options.format);
    std::string path;
    if (format == nullptr || format->name != kNullOutputName) {
        path = options.output;
        if (path.empty()) {
            std::string suffix = plan.videoOut ? ".mkv" : ".png";
            if (format != nullptr) suffix = format->defaultSuffix;
            path = stemOf(options.input) + "." + display.name() + suffix;
        }
        if (format == nullptr) {
            if (Status s = outputFormatFor(path, format); !s.ok()) return s;
        } else if (path == kStdoutName && !format->toStdout) {
            return Status::fail("the " + std::string(format->name) +
                                " output cannot go to standard output ('-')");
        }
        if (format->onePicture && plan.videoOut && options.frames.value_or(0) != 1)
            return Status::fail(path + " holds one picture, but " + info.name +
                                " gives a clip; write a video (.mkv), an image sequence (name_%04d.png), or "
                                "add --frames 1");
    }
    WriterSettings ws;
    ws.w = frame.w();
    ws.h = frame.h();
    ws.frameRate = info.frameRate;
    ws.timeBase = info.timeBase;
    // The picture's own geometry, where the display passes it through.
    const bool picture =
        display.known && (display.passthru || display.mode == static_cast<int>(DisplayMode::Video) ||
                          display.mode == static_cast<int>(DisplayMode::HotPixel));
    if (picture) ws.sampleAspect = info.sampleAspect;
    ws.overwrite = options.overwrite;
    return format->open(path, ws, writer);
}

struct Run {
    Reader& reader;
    FilterInstance& inst;
    Writer& writer;
    Verifier* verifier;  // null without --verify
    Progress& progress;
    RunCounts n;
    Timing t;
    int64_t firstPts = 0;  // the output starts at 0
    bool started = false;
};

// Reads, filters, checks and writes until the input or --frames ends.
Status processFrames(const Options& options, const Plan& plan, const volatile std::sig_atomic_t& interrupted,
                     Run& run) {
    const bool still = run.reader.info().still;
    RunCounts& n = run.n;
    for (;;) {
        if (interrupted) return Status::fail("interrupted; nothing written");
        if (options.frames && n.frames >= *options.frames) return {};
        ReadFrame meta;
        if (still && n.frames > 0) {
            if (n.frames >= plan.stillRepeats) return {};
            meta.number = n.frames;  // the same picture again
            meta.pts = n.frames;
        } else {
            const auto t0 = Timing::Clock::now();
            Status s = run.reader.read(run.inst.source(), meta);
            run.t.decode += Timing::since(t0);
            if (!s.ok()) return s;
            if (meta.end) {
                if (meta.cutShort && !options.skipErrors)
                    return Status::fail(meta.problem + "; --skip-errors keeps the frames before the cut");
                n.cutShort = meta.cutShort;
                return {};
            }
            if (meta.corrupt) {
                if (!options.skipErrors)
                    return Status::fail(meta.problem + "; --skip-errors leaves such frames out");
                ++n.skipped;
                continue;
            }
        }
        const auto t1 = Timing::Clock::now();
        if (Status s = run.inst.run(meta.number); !s.ok()) return s;
        const auto t2 = Timing::Clock::now();
        run.t.filter += std::chrono::duration<double>(t2 - t1).count();
        if (run.verifier != nullptr)
            if (Status s = run.verifier->check(run.inst.output(), meta.number); !s.ok()) return s;
        const auto t3 = Timing::Clock::now();
        if (!run.started) {
            run.firstPts = meta.pts;
            run.started = true;
        }
        if (Status s = run.writer.writeTimed(run.inst.output(), meta.number, meta.pts - run.firstPts);
            !s.ok())
            return s;
        run.t.encode += Timing::since(t3);
        ++n.frames;
        run.progress.update(n.frames);
    }
}

}  // namespace

void report(const std::string& message) { std::fprintf(stderr, "kivrel: %s\n", message.c_str()); }

int runPipeline(const Options& options, const volatile std::sig_atomic_t& interrupted) {
    const auto started = Timing::Clock::now();
    Status error;
    const std::string modulePath = options.modulePath.empty() ? defaultModulePath() : options.modulePath;
    std::unique_ptr<FilterModuleHost> module = FilterModuleHost::load(modulePath, error);
    if (!module) return fail(error);
    FilterInstance inst(*module);
    if (Status s = configure(inst, options); !s.ok()) return fail(s);
    if (options.printConfig) {
        std::printf("%s\n%s\n", inst.label().c_str(), inst.scriptLine().c_str());
        return kExitOk;
    }
    Display display = currentDisplay(inst);
    if (display.known && !display.passthru && !display.rendered())
        return fail(Status::fail("the settings select display mode " + std::to_string(display.mode) +
                                 ", which the filter does not render (0 to " +
                                 std::to_string(kDisplayModeCount - 1) + ")"));
    std::optional<Verifier> verifier;
    if (!options.verifyFile.empty())
        if (Status s = verifier.emplace().open(options.verifyFile); !s.ok()) return fail(s);

    std::unique_ptr<Reader> reader;
    if (Status s = openInput(options, reader); !s.ok()) return fail(s);
    const SourceInfo& info = reader->info();
    if (!options.input.empty())
        if (Status s = followSource(inst, options, info.levels); !s.ok()) return fail(s);
    display = currentDisplay(inst);
    reader->setRgbLevels(rgbLevelsFor(display.mode, display.passthru, filterStudioRange(inst), info.levels));
    const Plan plan = planFor(info, options);
    if (Status s = inst.prepare(info.w, info.h, options.padPitch); !s.ok()) return fail(s);
    const OutputFormat* format = nullptr;
    std::unique_ptr<Writer> writer;
    if (Status s = openOutput(options, info, display, plan, inst.output(), format, writer); !s.ok())
        return fail(s);
    if (Status s = inst.start(); !s.ok()) return fail(s);

    Progress progress(!options.quiet && ::isatty(STDERR_FILENO) && plan.expected != 1, plan.expected);
    Run run{*reader, inst, *writer, verifier ? &*verifier : nullptr, progress, {}, {}};
    const Status s = processFrames(options, plan, interrupted, run);
    progress.finish();  // before any message, so the message stands alone
    if (!s.ok()) {
        fail(s);
        return interrupted ? kExitInterrupted : kExitFailure;
    }
    const RunCounts& n = run.n;
    if (n.frames == 0) {
        if (n.skipped > 0) return fail(Status::fail(info.name + ": every frame is damaged"));
        if (!options.start.atBeginning())
            return fail(Status::fail("--start " + options.start.text + " is past the end of " + info.name));
        return fail(Status::fail(info.name + ": holds no frames"));
    }
    if (verifier)
        if (Status v = verifier->finish(); !v.ok()) return fail(v);
    if (Status e = inst.end(); !e.ok()) return fail(e);
    const auto t4 = Timing::Clock::now();
    if (Status f = writer->finish(); !f.ok()) return fail(f);
    run.t.encode += Timing::since(t4);
    if (!options.quiet) {
        Summary out;
        out.destination = writer->destination();
        out.verified = verifier ? verifier->path() : "";
        out.w = inst.output().w();
        out.h = inst.output().h();
        out.encoded = format->name != kNullOutputName;
        out.source = describeLevels(info.levels);
        printSummary(out, n, Timing::since(started), run.t);
    }
    return kExitOk;
}
