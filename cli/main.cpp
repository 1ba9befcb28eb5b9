// kivrel: the command-line host. Loads the filter module as a plug-in host
// does, feeds it decoded frames and writes the displays it renders.
#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

#include "av_support.h"
#include "options.h"
#include "pluginhost/module_host.h"
#include "pluginhost/test_card.h"
#include "progress.h"
#include "reader.h"
#include "writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // the shell's 128 + SIGINT

constexpr const char* kModuleFileName = "kivrel.so";
constexpr const char* kTestCardStem = "testcard";
constexpr const char* kPassthruName = "passthru";

volatile std::sig_atomic_t interrupted = 0;
void onSignal(int) { interrupted = 1; }

void report(const std::string& message) { std::fprintf(stderr, "kivrel: %s\n", message.c_str()); }

int fail(const Status& s) {
    report(s.message());
    return kExitFailure;
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// The module beside our own executable, as a plug-in host looks in its own folder.
std::string defaultModulePath() {
    char exe[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return kModuleFileName;
    exe[n] = 0;
    return directoryOf(exe) + "/" + kModuleFileName;
}

// The input's file name without folder and extension.
std::string stemOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return name.empty() ? kTestCardStem : name;
}

// The display the current settings show, read back from the filter's own
// script line: pass-through shows the picture, else the mode decides.
struct Display {
    bool known = false;  // the filter saves a Config line we can read
    int mode = 0;
    bool passthru = false;
    std::string name() const {
        if (!known) return "filtered";
        if (passthru) return kPassthruName;
        return mode >= 0 && mode < kDisplayModeCount ? std::string(kDisplayNames[mode])
                                                     : "mode" + std::to_string(mode);
    }
};

Display currentDisplay(FilterInstance& inst) {
    Display d;
    ScriptCall call;
    ConfigArgs args{};
    if (parseScriptCall(inst.scriptLine(), call) == LineKind::Call && configArgsOf(call, args).ok()) {
        d.known = true;
        d.mode = args[kArgMode];
        d.passthru = args[kArgPassthru] != 0;
    }
    return d;
}

// The settings options become one Config line on top of what the instance
// holds now (its stored defaults, or what a script set).
Status applySettings(FilterInstance& inst, const Options& options) {
    if (!hasConfigOverrides(options)) return {};
    const std::string current = inst.scriptLine();
    ScriptCall call;
    ConfigArgs args{};
    if (current.empty())
        return Status::fail("the filter saves no script line, so its settings cannot be set one by one");
    if (parseScriptCall(current, call) != LineKind::Call || !configArgsOf(call, args).ok())
        return Status::fail("cannot read the filter's script line back: '" + current + "'");
    applyConfigOverrides(options, args);
    return inst.runScriptLine(formatConfigLine(args));
}

struct Timing {
    using Clock = std::chrono::steady_clock;
    double decode = 0, filter = 0, encode = 0;
    static double since(Clock::time_point t) {
        return std::chrono::duration<double>(Clock::now() - t).count();
    }
};

std::string rate(int64_t frames, double seconds) {
    char buf[32];
    if (seconds <= 0.0)
        std::snprintf(buf, sizeof buf, "-");
    else
        std::snprintf(buf, sizeof buf, "%.1f fps", static_cast<double>(frames) / seconds);
    return buf;
}

struct RunCounts {
    int64_t frames = 0;
    int64_t skipped = 0;    // damaged frames left out
    bool cutShort = false;  // the input ended before its stated length
};

void printSummary(const std::string& destination, const RunCounts& n, const FrameBuffer& out, double seconds,
                  const Timing& t, bool encoded) {
    const int64_t frames = n.frames;
    std::string line = destination.empty() ? "" : "wrote " + destination + ": ";
    line += std::to_string(frames) + (frames == 1 ? " frame " : " frames ") + std::to_string(out.w()) + "x" +
            std::to_string(out.h());
    char total[64];
    std::snprintf(total, sizeof total, " in %.2f s (%s)", seconds, rate(frames, seconds).c_str());
    line += total;
    line += "; filter " + rate(frames, t.filter) + ", decode " + rate(frames, t.decode);
    if (encoded) line += ", encode " + rate(frames, t.encode);
    if (n.skipped > 0)
        line += "; left out " + std::to_string(n.skipped) + " damaged frame" + (n.skipped == 1 ? "" : "s");
    if (n.cutShort) line += "; the input is cut short";
    std::fprintf(stderr, "kivrel: %s\n", line.c_str());
}

Status configure(FilterInstance& inst, const Options& options) {
    if (Status s = inst.init(); !s.ok()) return s;
    if (!options.scriptFile.empty())
        if (Status s = inst.runScriptFile(options.scriptFile); !s.ok()) return s;
    if (Status s = applySettings(inst, options); !s.ok()) return s;
    if (options.maxIre)
        report("warning: --max-ire " + std::to_string(*options.maxIre) +
               " is not applied: the filter takes maxIRE from its settings store, which this build lacks");
    return {};
}

Status openInput(const Options& options, std::unique_ptr<Reader>& reader) {
    if (!options.input.empty()) return openMediaReader(options.input, options.start, reader);
    if (!options.start.atBeginning())
        return Status::fail("the test card is a still picture: --start " + options.start.text +
                            " is past its only frame");
    reader = openTestCard(options.cardWidth > 0 ? options.cardWidth : kTestCardWidth,
                          options.cardHeight > 0 ? options.cardHeight : kTestCardHeight);
    return {};
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

Status openOutput(const Options& options, const SourceInfo& info, const Display& display, const Plan& plan,
                  const FrameBuffer& frame, OutputKind& kind, std::unique_ptr<Writer>& writer) {
    kind = OutputKind::Null;
    std::string path;
    if (!options.nullOutput) {
        path = !options.output.empty() ? options.output
                                       : stemOf(options.input.empty() ? kTestCardStem : options.input) + "." +
                                             display.name() + (plan.videoOut ? ".mkv" : ".png");
        if (Status s = classifyOutput(path, kind); !s.ok()) return s;
        if (kind == OutputKind::Image && plan.videoOut && options.frames.value_or(0) != 1)
            return Status::fail(path + " holds one picture, but " + info.name +
                                " gives a clip; write a video (.mkv), an image sequence (name_%04d.png), or "
                                "add --frames 1");
    }
    WriterSettings ws;
    ws.w = frame.w();
    ws.h = frame.h();
    ws.frameRate = info.frameRate;
    ws.overwrite = options.overwrite;
    return openWriter(kind, path, ws, writer);
}

// Reads, filters and writes until the input or --frames ends.
Status processFrames(const Options& options, const Plan& plan, Reader& reader, FilterInstance& inst,
                     Writer& writer, Progress& progress, RunCounts& n, Timing& t) {
    const bool still = reader.info().still;
    for (;;) {
        if (interrupted) return Status::fail("interrupted; nothing written");
        if (options.frames && n.frames >= *options.frames) return {};
        ReadFrame meta;
        if (still && n.frames > 0) {
            if (n.frames >= plan.stillRepeats) return {};
            meta.number = n.frames;  // the same picture again
        } else {
            const auto t0 = Timing::Clock::now();
            Status s = reader.read(inst.source(), meta);
            t.decode += Timing::since(t0);
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
        if (Status s = inst.run(meta.number); !s.ok()) return s;
        const auto t2 = Timing::Clock::now();
        t.filter += std::chrono::duration<double>(t2 - t1).count();
        if (Status s = writer.write(inst.output(), meta.number); !s.ok()) return s;
        t.encode += Timing::since(t2);
        ++n.frames;
        progress.update(n.frames);
    }
}

int run(const Options& options) {
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
    const Display display = currentDisplay(inst);
    if (display.known && !display.passthru && (display.mode < 0 || display.mode >= kDisplayModeCount))
        return fail(Status::fail("the settings select display mode " + std::to_string(display.mode) +
                                 ", which the filter does not render (0 to 4)"));

    std::unique_ptr<Reader> reader;
    if (Status s = openInput(options, reader); !s.ok()) return fail(s);
    const SourceInfo& info = reader->info();
    const Plan plan = planFor(info, options);
    if (Status s = inst.prepare(info.w, info.h, options.padPitch); !s.ok()) return fail(s);
    OutputKind kind = OutputKind::Null;
    std::unique_ptr<Writer> writer;
    if (Status s = openOutput(options, info, display, plan, inst.output(), kind, writer); !s.ok())
        return fail(s);
    if (Status s = inst.start(); !s.ok()) return fail(s);

    RunCounts n;
    Timing t;
    Progress progress(!options.quiet && ::isatty(STDERR_FILENO) && plan.expected != 1, plan.expected);
    const Status s = processFrames(options, plan, *reader, inst, *writer, progress, n, t);
    progress.finish();  // before any message, so the message stands alone
    if (!s.ok()) {
        fail(s);
        return interrupted ? kExitInterrupted : kExitFailure;
    }
    if (n.frames == 0) {
        if (n.skipped > 0) return fail(Status::fail(info.name + ": every frame is damaged"));
        if (!options.start.atBeginning())
            return fail(Status::fail("--start " + options.start.text + " is past the end of " + info.name));
        return fail(Status::fail(info.name + ": holds no frames"));
    }
    if (Status e = inst.end(); !e.ok()) return fail(e);
    const auto t3 = Timing::Clock::now();
    if (Status f = writer->finish(); !f.ok()) return fail(f);
    t.encode += Timing::since(t3);
    if (!options.quiet)
        printSummary(writer->destination(), n, inst.output(), Timing::since(started), t,
                     kind != OutputKind::Null);
    return kExitOk;
}

void printVersion() {
    auto v = [](unsigned n) {
        return std::to_string(AV_VERSION_MAJOR(n)) + "." + std::to_string(AV_VERSION_MINOR(n)) + "." +
               std::to_string(AV_VERSION_MICRO(n));
    };
    std::printf("kivrel %s (filter interface %d, compatible down to %d)\n", KIVREL_VERSION,
                kHostInterfaceVersion, kHostOldestInterface);
    std::printf("libavformat %s, libavcodec %s, libswscale %s, libavutil %s\n", v(avformat_version()).c_str(),
                v(avcodec_version()).c_str(), v(swscale_version()).c_str(), v(avutil_version()).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    Action action = Action::Run;
    if (Status s = parseCommandLine(argc, argv, options, action); !s.ok()) {
        report(s.message() + " (kivrel --help lists the options)");
        return kExitUsage;
    }
    if (action == Action::Help) {
        std::fputs(helpText().c_str(), stdout);
        return kExitOk;
    }
    if (action == Action::Version) {
        printVersion();
        return kExitOk;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    routeLibraryLog(options.verbose);
    return run(options);
}
