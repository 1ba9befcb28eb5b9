#include "run/run.h"

#include <unistd.h>

#include <memory>
#include <optional>

#include "os/signals.h"
#include "output/output.h"
#include "pluginhost/module_host.h"
#include "run/module.h"
#include "run/output_name.h"
#include "run/pipeline.h"
#include "run/progress.h"
#include "run/read.h"
#include "run/read_rules.h"
#include "run/render.h"
#include "run/scope_renderer.h"
#include "run/summary_printer.h"
#include "run/verify.h"
#include "run/write.h"

int runPipeline(const Options& options) {
    const auto started = Timing::Clock::now();
    // The module and the run's instance, set up as the command line asks,
    // then the input, whose tags the settings may follow.
    std::unique_ptr<FilterModuleHost> module;
    if (Status s = loadModule(options, module); !s.ok()) return runFailed(s);
    ScopeRenderer scopes(*module);
    if (Status s = scopes.configure(options); !s.ok()) return runFailed(s);
    std::optional<FileId> source;
    if (Status s = checkInputFile(options.input, source); !s.ok()) return runFailed(s);
    std::unique_ptr<Reader> reader;
    if (Status s = openInput(options, reader); !s.ok()) return runFailed(s);
    const SourceInfo& info = reader->info();
    if (Status s = scopes.followInput(options, info); !s.ok()) return runFailed(s);
    if (options.printConfig && !options.monitor.wanted()) {
        scopes.printConfig();
        return kExitOk;
    }
    // What the run turns out, what renders it, where it goes.
    Plan plan;
    if (Status s = planFor(info, options, plan); !s.ok()) return runFailed(s);
    FrameConverter converter(info, options.threads);
    if (Status s = scopes.prepare(options, *reader, converter, threadsFor(options)); !s.ok())
        return runFailed(s);
    if (options.printConfig) {
        scopes.printConfig();
        return kExitOk;
    }
    std::optional<Verifier> verifier;
    if (!options.verifyFile.empty())
        if (Status s = verifier.emplace().open(options.verifyFile); !s.ok()) return runFailed(s);
    const OutputFormat* format = nullptr;
    std::unique_ptr<Writer> writer;
    const FrameBuffer& shown = scopes.output();
    if (Status s = openOutput(options, info, source, scopes.name(), scopes.showsPictureItself(), plan, shown,
                              format, writer);
        !s.ok())
        return runFailed(s);
    const int threads = scopes.readsEachFrameTwice() ? 1 : threadsFor(options);
    if (Status s = scopes.start(options, info, threads); !s.ok()) return runFailed(s);

    // Read, convert, render and write every frame.
    const ReadRules rules = readRulesFor(info, options, plan);
    const FrameBuffer& shape = scopes.source();
    Progress progress(!options.quiet && ::isatty(STDERR_FILENO) && plan.expected != 1, plan.expected);
    RenderFlow flow(*reader, converter, rules, scopes, shape.w(), shape.h(), shape.pitch(), threads);
    RunCounts n;
    Timing t;
    WriteSink sink(*writer, verifier ? &*verifier : nullptr, progress, t);
    const Status s = flowFrames(flow, sink, n, t);
    flow.stop();
    progress.finish();  // before any message, so the message stands alone
    if (!s.ok() || pendingSignal() != 0) return stopped(options, *writer, s);

    // Every instance ended and the output closed before it counts as written.
    if (n.frames == 0) return runFailed(noFrames(info, options.start, n.skipped));
    if (verifier)
        if (Status v = verifier->finish(); !v.ok()) return runFailed(v);
    if (Status e = scopes.end(); !e.ok()) return runFailed(e);
    const auto closing = Timing::Clock::now();
    if (Status f = writer->finish(); !f.ok()) return runFailed(f, writer.get());
    t.encode += Timing::since(closing);
    if (!options.quiet)
        printSummary(summaryOf(*writer, *format, verifier ? &*verifier : nullptr, shown, info), n,
                     Timing::since(started), t);
    return kExitOk;
}
