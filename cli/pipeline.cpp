#include "pipeline.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "defaults.h"
#include "display_name.h"
#include "filter_setup.h"
#include "input/input.h"
#include "monitor/monitor.h"
#include "output/output.h"
#include "paths.h"
#include "pluginhost/module_host.h"
#include "progress.h"
#include "render_stage.h"
#include "signals.h"
#include "timing.h"
#include "verify.h"

namespace {

// A reader at the other end of the output that closed it (`head -c`) is
// no failure of the run's, but what went down before should be said.
std::string readerClosed(const Writer& writer) {
    const Writer::Sent sent = writer.sent();
    const std::string closed = "the reader of " + writer.destination() + " closed the pipe";
    if (sent.frames > 0 || sent.bytes > 0) {
        std::string went = sent.frames >= 0
                               ? std::to_string(sent.frames) + (sent.frames == 1 ? " frame" : " frames")
                               : std::to_string(sent.bytes) + " bytes";
        if (sent.frames >= 0 && sent.bytes >= 0) went += " (" + std::to_string(sent.bytes) + " bytes)";
        return closed + " after " + went + " had gone down it; the rest is not written";
    }
    return closed + " before anything went down it; nothing written";
}

// Whether the run stopped because the output's reader went away.
bool pipeClosed(const Writer* writer) {
    if (writer == nullptr || pendingSignal() != SIGPIPE) return false;
    const Writer::Sent sent = writer->sent();
    return sent.frames >= 0 || sent.bytes >= 0;
}

int fail(const Status& s, const Writer* writer = nullptr) {
    if (const int sig = pendingSignal(); sig != 0) {
        report(pipeClosed(writer) ? readerClosed(*writer) : interruptedBy(sig) + "; nothing written");
        return exitStatusForSignal(sig);
    }
    report(s.message());
    return s.isUsage() ? kExitUsage : kExitFailure;
}

// Module instances rendering at once: beyond a few, more only cost memory.
constexpr int kMostLanes = 4;

// The clip's frames per second, or 0 when unknown.
double framesPerSecond(const SourceInfo& info) {
    return info.frameRate.den > 0 ? static_cast<double>(info.frameRate.num) / info.frameRate.den : 0.0;
}

// More frames than any file holds, yet a count no arithmetic overflows.
constexpr double kEndlessFrames = 0x1p62;

// Frames in `seconds` at `fps`: those that start before the time is up; -1
// when that is more than any file holds (a huge -t or -to: to the end).
int64_t framesIn(double seconds, double fps) {
    constexpr double kRounding = 1e-6;  // of a frame: a time given to the frame is exact
    const double frames = std::ceil(seconds * fps - kRounding);
    if (!(frames < kEndlessFrames)) return -1;
    return std::max<int64_t>(1, static_cast<int64_t>(frames));
}

// What a run turns out: a still once, or -frames (-t) times as a clip.
struct Plan {
    int64_t stillRepeats = 1;
    int64_t expected = -1;  // frames to process, when known
    int64_t limit = -1;     // at most this many: -frames, -t, -to
    bool videoOut = false;
};

}  // namespace

ReaderParams readerParams(const Options& options, const std::string& path) {
    ReaderParams params;
    params.path = path;
    params.start = options.start;
    params.levels = options.inputLevels;
    params.startNumber = options.startNumber;
    params.autorotate = !options.noAutorotate;
    params.cardWidth = options.cardWidth;
    params.cardHeight = options.cardHeight;
    params.threads = options.threads;
    return params;
}

Status frameLimit(const SourceInfo& info, const Options& options, int64_t& limit) {
    const double fps = framesPerSecond(info);
    limit = options.frames.value_or(-1);
    auto lower = [&limit](int64_t n) {
        if (n >= 0) limit = limit < 0 ? n : std::min(limit, n);
    };
    if (options.duration && fps > 0.0) lower(framesIn(*options.duration, fps));
    if (options.endTime && fps > 0.0) {
        const double from =
            options.start.isTime ? options.start.seconds : static_cast<double>(options.start.frame) / fps;
        if (Status s = checkEndAfterStart(options, from); !s.ok()) return s;
        lower(framesIn(*options.endTime - from, fps));
    }
    return {};
}

namespace {

Status planFor(const SourceInfo& info, const Options& options, Plan& p) {
    p = {};
    int64_t limit = -1;
    if (Status s = frameLimit(info, options, limit); !s.ok()) return s;
    p.limit = limit;
    p.stillRepeats = info.still ? std::max<int64_t>(1, limit) : 1;
    // One frame of video may become a picture: only more than one makes a clip.
    p.videoOut = info.still ? p.stillRepeats > 1 : info.frameCount != 1 && limit != 1;
    p.expected = info.still ? p.stillRepeats : info.frameCount;
    if (!info.still && limit >= 0) p.expected = p.expected < 0 ? -1 : std::min(p.expected, limit);
    return {};
}

// "", or what is wrong with an input the libraries would only call unreadable.
Status checkInputFile(const std::string& path, std::optional<FileId>& id) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return {};  // a pattern, a pipe name ...
    id = FileId{st.st_dev, st.st_ino};
    if (S_ISREG(st.st_mode) && st.st_size == 0)
        return Status::fail(path + ": the file is empty (0 bytes), not a picture or video");
    return {};
}

Status openInput(const Options& options, std::unique_ptr<Reader>& reader) {
    return openReader(options.input.empty() ? kTestCardReaderName : kMediaReaderName,
                      readerParams(options, options.input), reader);
}

std::string lengthOf(const SourceInfo& info) {
    if (info.seconds < 0.0) return "";
    char text[64];
    std::snprintf(text, sizeof text, ", which lasts %.2f s", info.seconds);
    return text;
}

// The writer -f, --null or the output's name picks; with no name, one made
// from the input and the display.
Status openOutput(const Options& options, const SourceInfo& info, const std::optional<FileId>& source,
                  const std::string& displayName, bool pictureAspect, const Plan& plan,
                  const FrameBuffer& frame, const OutputFormat*& format, std::unique_ptr<Writer>& writer) {
    WriterSettings ws;
    format = nullptr;
    if (options.nullOutput) {
        format = findOutputFormat(kNullOutputName);
    } else if (!options.format.empty()) {
        if (Status s = outputFormatByName(options.format, format, ws.muxer); !s.ok()) return s;
    }
    std::string path;
    if (format == nullptr || format->name != kNullOutputName) {
        path = options.output;
        if (path.empty()) {
            std::string suffix = plan.videoOut ? ".mkv" : ".png";
            if (format != nullptr && ws.muxer.empty()) suffix = format->defaultSuffix;
            if (!ws.muxer.empty()) suffix = muxerSuffix(ws.muxer);
            path = stemOf(options.input) + "." + displayName + suffix;
        }
        struct stat st {};
        if (path != kStdoutName && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return Status::fail(path + " is a folder; name a file in it (" + path +
                                (path.ends_with('/') ? "" : "/") + stemOf(options.input) + "." + displayName +
                                (plan.videoOut ? ".mkv" : ".png") + ")");
        if (format == nullptr) {
            if (Status s = outputFormatFor(path, format); !s.ok()) return s;
        } else if (path == kStdoutName && !format->toStdout) {
            return Status::usage("the " + std::string(format->name) +
                                 " output cannot go to standard output ('-'); name a container: -f nut");
        }
        // A clip of unstated length may still hold one frame: the writer
        // refuses a second one when it comes.
        if (format->onePicture && plan.videoOut && plan.limit != 1 && (info.still || info.frameCount > 1))
            return Status::fail(path + " holds one picture, but " + info.name +
                                " gives a clip; write a video (.mkv), an image sequence (name_%04d.png), or "
                                "add -frames 1");
    }
    ws.w = frame.w();
    ws.h = frame.h();
    ws.frameRate = info.frameRate;
    ws.timeBase = info.timeBase;
    if (pictureAspect) ws.sampleAspect = info.sampleAspect;
    ws.overwrite = options.overwrite;
    ws.source = source;
    ws.frames = plan.expected;
    ws.startNumber = options.startNumber.value_or(1);
    ws.codec = options.codec;
    ws.pixelFormat = options.pixelFormat;
    ws.threads = options.threads;
    return format->open(path, ws, writer);
}

struct Run {
    RenderFlow& flow;
    Writer& writer;
    Verifier* verifier;  // null without --verify
    Progress& progress;
    RunCounts n;
    Timing t;
    int64_t firstPts = 0;  // the output starts at 0
    bool started = false;
};

// Checks and writes every frame the render flow gives, in order, until the
// input or -frames ends.
Status processFrames(Run& run) {
    RunCounts& n = run.n;
    for (;;) {
        if (pendingSignal() != 0) return Status::fail("interrupted");
        const RenderedFrame f = run.flow.next();
        run.t.decode += f.item.decodeSeconds;
        run.t.filter += f.filterSeconds;
        n.skipped = f.item.skipped;
        if (f.item.kind == SourceItem::Kind::Failed) return f.item.status;
        if (f.item.kind == SourceItem::Kind::End) {
            n.cutShort = f.item.cutShort;
            return {};
        }
        const ReadFrame& meta = f.item.meta;
        if (run.verifier != nullptr)
            if (Status s = run.verifier->check(*f.output, meta.number); !s.ok()) return s;
        const auto t3 = Timing::Clock::now();
        if (!run.started) {
            run.firstPts = meta.pts;
            run.started = true;
        }
        if (Status s = run.writer.writeTimed(*f.output, meta.number, meta.pts - run.firstPts); !s.ok())
            return s;
        run.t.encode += Timing::since(t3);
        ++n.frames;
        run.progress.update(n.frames);
    }
}

// Threads for the stages after decoding (-threads; 0: one per core).
int threadsFor(const Options& options) {
    if (options.threads > 0) return options.threads;
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

// After a failure or an interrupt: --keep-partial keeps what was finished.
int stopped(const Options& options, Writer& writer, const Status& s) {
    const int sig = pendingSignal();
    const std::string why = sig != 0 ? interruptedBy(sig) : s.message();
    const int status = sig != 0 ? exitStatusForSignal(sig) : kExitFailure;
    if (pipeClosed(&writer)) {  // nothing more can go down it, a partial ending neither
        report(readerClosed(writer));
        return status;
    }
    if (!options.keepPartial) {
        report(sig != 0 ? why + "; nothing written" : why);
        return status;
    }
    int64_t kept = 0;
    if (Status k = writer.finishPartial(kept); !k.ok()) {
        report(why + "; keeping the finished frames failed too: " + k.message());
        return status;
    }
    report(why + "; kept " + std::to_string(kept) + " finished frame" + (kept == 1 ? "" : "s") +
           (kept > 0 ? " in " + writer.destination() : ""));
    return status;
}

}  // namespace

void report(const std::string& message) { std::fprintf(stderr, "kivrel: %s\n", message.c_str()); }

int runPipeline(const Options& options) {
    const auto started = Timing::Clock::now();
    Status error;
    std::string modulePath;
    if (Status s = findModule(options.modulePath, modulePath); !s.ok()) return fail(s);
    std::unique_ptr<FilterModuleHost> module = FilterModuleHost::load(modulePath, error);
    if (!module) return fail(error);
    warnIfStoreUnreadable();
    FilterInstance inst(*module);
    {
        const CallbackScope scope("initProc", -1);
        if (Status s = configure(inst, options); !s.ok()) return fail(s);
    }
    Display display = currentDisplay(inst);
    if (!options.printConfig && display.known && !display.passthru && !display.rendered())
        return fail(Status::fail("the settings select display mode " + std::to_string(display.mode) +
                                 ", which the filter does not render (0 to " +
                                 std::to_string(kDisplayModeCount - 1) + ")"));
    std::optional<FileId> source;
    if (Status s = checkInputFile(options.input, source); !s.ok()) return fail(s);
    std::unique_ptr<Reader> reader;
    if (Status s = openInput(options, reader); !s.ok()) return fail(s);
    const SourceInfo& info = reader->info();
    if (!options.input.empty())
        if (Status s = followSource(inst, options, info.levels); !s.ok()) return fail(s);
    display = currentDisplay(inst);
    // What this input gets: the settings after "auto" has followed its tags.
    if (options.printConfig && !options.monitor.wanted()) {
        std::printf("%s\n%s\n", inst.label().c_str(), inst.scriptLine().c_str());
        return kExitOk;
    }
    Plan plan;
    if (Status s = planFor(info, options, plan); !s.ok()) return fail(s);
    // Several displays tiled into one output: a monitor renders each frame,
    // with instances of its own; its pixels are square.
    std::optional<Monitor> monitor;
    if (options.monitor.wanted()) {
        if (Status s = monitor.emplace().open(*module, options, display, *reader, threadsFor(options));
            !s.ok())
            return fail(s);
        if (options.printConfig) {
            std::fputs(monitor->settingsText().c_str(), stdout);
            return kExitOk;
        }
    } else {
        reader->setRgbLevels(
            rgbLevelsFor(display.mode, display.passthru, filterStudioRange(inst), info.levels));
        const CallbackScope scope("paramProc", -1);
        if (Status s = inst.prepare(info.w, info.h, options.padPitch); !s.ok()) return fail(s);
    }
    // The picture's own geometry, where the display passes it through.
    const bool pictureAspect = !monitor && display.known &&
                               (display.passthru || display.mode == static_cast<int>(DisplayMode::Video) ||
                                display.mode == static_cast<int>(DisplayMode::HotPixel));
    std::optional<Verifier> verifier;
    if (!options.verifyFile.empty())
        if (Status s = verifier.emplace().open(options.verifyFile); !s.ok()) return fail(s);
    const OutputFormat* format = nullptr;
    std::unique_ptr<Writer> writer;
    if (Status s =
            openOutput(options, info, source, monitor ? monitor->name() : display.name(), pictureAspect, plan,
                       monitor ? monitor->output() : inst.output(), format, writer);
        !s.ok())
        return fail(s);
    {
        const CallbackScope scope("startProc", -1);
        if (Status s = monitor ? monitor->start() : inst.start(); !s.ok()) return fail(s);
    }

    ModuleRenderer single(inst);  // the one display, in as many lanes as it may run
    FrameRenderer& renderer = monitor ? static_cast<FrameRenderer&>(*monitor) : single;
    const int threads = monitor && monitor->readsEachFrameTwice() ? 1 : threadsFor(options);
    if (!monitor && threads > 1 && !keepsStateAcrossFrames(inst)) {
        const auto setUp = [&](FilterInstance& lane) {
            if (Status s = configure(lane, options); !s.ok()) return s;
            if (!options.input.empty())
                if (Status s = followSource(lane, options, info.levels); !s.ok()) return s;
            const CallbackScope scope("paramProc", -1);
            if (Status s = lane.prepare(info.w, info.h, options.padPitch); !s.ok()) return s;
            return lane.start();
        };
        if (Status s = single.addLanes(*module, std::min(threads, kMostLanes), setUp); !s.ok())
            return fail(s);
    }
    const ReadRules rules{plan.limit, plan.stillRepeats, options.skipErrors};
    const FrameBuffer& shape = monitor ? monitor->source() : inst.source();
    Progress progress(!options.quiet && ::isatty(STDERR_FILENO) && plan.expected != 1, plan.expected);
    RenderFlow flow(*reader, rules, renderer, shape.w(), shape.h(), shape.pitch(), threads);
    Run run{flow, *writer, verifier ? &*verifier : nullptr, progress, {}, {}};
    const Status s = processFrames(run);
    flow.stop();
    progress.finish();  // before any message, so the message stands alone
    if (!s.ok() || pendingSignal() != 0) return stopped(options, *writer, s);
    const RunCounts& n = run.n;
    if (n.frames == 0) {
        if (n.skipped > 0) return fail(Status::fail(info.name + ": every frame is damaged"));
        if (!options.start.atBeginning())
            return fail(Status::fail("-ss " + options.start.text + " is past the end of " + info.name +
                                     lengthOf(info)));
        return fail(Status::fail(info.name + ": holds no frames"));
    }
    if (verifier)
        if (Status v = verifier->finish(); !v.ok()) return fail(v);
    if (Status e = single.end(); !e.ok()) return fail(e);
    {
        const CallbackScope scope("endProc", -1);
        if (Status e = monitor ? monitor->end() : inst.end(); !e.ok()) return fail(e);
    }
    const auto t4 = Timing::Clock::now();
    if (Status f = writer->finish(); !f.ok()) return fail(f, writer.get());
    run.t.encode += Timing::since(t4);
    if (!options.quiet) {
        Summary out;
        out.destination = writer->destination();
        out.verified = verifier ? verifier->path() : "";
        const FrameBuffer& shown = monitor ? monitor->output() : inst.output();
        out.w = shown.w();
        out.h = shown.h();
        out.encoded = format->name != kNullOutputName;
        out.source = describeLevels(info.levels);
        printSummary(out, n, Timing::since(started), run.t);
    }
    return kExitOk;
}
