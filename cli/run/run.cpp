#include "run/run.h"

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "filter/display_state.h"
#include "monitor/monitor.h"
#include "os/signals.h"
#include "output/output.h"
#include "pluginhost/module_host.h"
#include "run/convert.h"
#include "run/filter_setup.h"
#include "run/module.h"
#include "run/output_name.h"
#include "run/plan.h"
#include "run/print_config.h"
#include "run/progress.h"
#include "run/read.h"
#include "run/render.h"
#include "run/summary_printer.h"
#include "run/verify.h"
#include "run/write.h"

namespace {

// Module instances rendering at once: beyond a few, more only cost memory.
constexpr int kMostLanes = 4;

Status checkRendered(const Options& options, const Display& display) {
    if (options.printConfig || !display.known || display.passthru || display.rendered()) return {};
    return Status::fail("the settings select display mode " + std::to_string(display.mode) +
                        ", which the filter does not render (0 to " + std::to_string(kDisplayModeCount - 1) +
                        ")");
}

// More instances of the one display, for a display that keeps nothing from frame to frame.
Status addLanes(ModuleRenderer& single, const FilterModuleHost& module, const Options& options,
                const SourceInfo& info, int threads) {
    const TileSetUp setUp = tileSetUp(options);
    return single.addLanes(module, std::min(threads, kMostLanes), [&](FilterInstance& lane) {
        if (Status s = setUp.configure(lane); !s.ok()) return s;
        if (setUp.followSource)
            if (Status s = setUp.followSource(lane, info.levels); !s.ok()) return s;
        const CallbackScope scope("paramProc", -1);
        if (Status s = lane.prepare(info.w, info.h, options.padPitch); !s.ok()) return s;
        return lane.start();
    });
}

}  // namespace

int runPipeline(const Options& options) {
    const auto started = Timing::Clock::now();
    // The module and the run's instance, set up as the command line asks,
    // then the input, whose tags the settings may follow.
    std::unique_ptr<FilterModuleHost> module;
    if (Status s = loadModule(options, module); !s.ok()) return runFailed(s);
    FilterInstance inst(*module);
    {
        const CallbackScope scope("initProc", -1);
        if (Status s = configure(inst, options); !s.ok()) return runFailed(s);
    }
    if (Status s = checkRendered(options, currentDisplay(inst)); !s.ok()) return runFailed(s);
    std::optional<FileId> source;
    if (Status s = checkInputFile(options.input, source); !s.ok()) return runFailed(s);
    std::unique_ptr<Reader> reader;
    if (Status s = openInput(options, reader); !s.ok()) return runFailed(s);
    const SourceInfo& info = reader->info();
    if (!options.input.empty())
        if (Status s = followSource(inst, options, info.levels); !s.ok()) return runFailed(s);
    const Display display = currentDisplay(inst);
    if (options.printConfig && !options.monitor.wanted()) {
        printConfig(inst);
        return kExitOk;
    }
    // What the run turns out, what renders it, where it goes.
    Plan plan;
    if (Status s = planFor(info, options, plan); !s.ok()) return runFailed(s);
    // Several displays tiled into one output: a monitor renders each frame,
    // with instances of its own; its pixels are square.
    std::optional<Monitor> monitor;
    if (options.monitor.wanted()) {
        if (Status s = monitor.emplace().open(*module, options.monitor, tileSetUp(options), display, *reader,
                                              threadsFor(options));
            !s.ok())
            return runFailed(s);
        if (options.printConfig) {
            printConfig(*monitor);
            return kExitOk;
        }
    } else {
        convertFor(*reader, inst, display);
        const CallbackScope scope("paramProc", -1);
        if (Status s = inst.prepare(info.w, info.h, options.padPitch); !s.ok()) return runFailed(s);
    }
    // The picture's own geometry, where the display passes it through.
    const bool pictureAspect = !monitor && display.known && showsPicture(display.mode, display.passthru);
    std::optional<Verifier> verifier;
    if (!options.verifyFile.empty())
        if (Status s = verifier.emplace().open(options.verifyFile); !s.ok()) return runFailed(s);
    const OutputFormat* format = nullptr;
    std::unique_ptr<Writer> writer;
    const FrameBuffer& shown = monitor ? monitor->output() : inst.output();
    if (Status s = openOutput(options, info, source, monitor ? monitor->name() : display.name(),
                              pictureAspect, plan, shown, format, writer);
        !s.ok())
        return runFailed(s);
    {
        const CallbackScope scope("startProc", -1);
        if (Status s = monitor ? monitor->start() : inst.start(); !s.ok()) return runFailed(s);
    }

    // Read, convert, render and write every frame.
    ModuleRenderer single(inst);  // the one display, in as many lanes as it may run
    FrameRenderer& renderer = monitor ? static_cast<FrameRenderer&>(*monitor) : single;
    const int threads = monitor && monitor->readsEachFrameTwice() ? 1 : threadsFor(options);
    if (!monitor && threads > 1 && !keepsStateAcrossFrames(inst))
        if (Status s = addLanes(single, *module, options, info, threads); !s.ok()) return runFailed(s);
    const ReadRules rules = readRulesFor(info, options, plan);
    const FrameBuffer& shape = monitor ? monitor->source() : inst.source();
    Progress progress(!options.quiet && ::isatty(STDERR_FILENO) && plan.expected != 1, plan.expected);
    RenderFlow flow(*reader, rules, renderer, shape.w(), shape.h(), shape.pitch(), threads);
    WriteStage run{flow, *writer, verifier ? &*verifier : nullptr, progress, {}, {}};
    const Status s = processFrames(run);
    flow.stop();
    progress.finish();  // before any message, so the message stands alone
    if (!s.ok() || pendingSignal() != 0) return stopped(options, *writer, s);

    // Every instance ended and the output closed before it counts as written.
    if (run.n.frames == 0) return runFailed(noFrames(info, options.start, run.n.skipped));
    if (verifier)
        if (Status v = verifier->finish(); !v.ok()) return runFailed(v);
    if (Status e = single.end(); !e.ok()) return runFailed(e);
    {
        const CallbackScope scope("endProc", -1);
        if (Status e = monitor ? monitor->end() : inst.end(); !e.ok()) return runFailed(e);
    }
    const auto closing = Timing::Clock::now();
    if (Status f = writer->finish(); !f.ok()) return runFailed(f, writer.get());
    run.t.encode += Timing::since(closing);
    if (!options.quiet)
        printSummary(summaryOf(*writer, *format, verifier ? &*verifier : nullptr, shown, info), run.n,
                     Timing::since(started), run.t);
    return kExitOk;
}
