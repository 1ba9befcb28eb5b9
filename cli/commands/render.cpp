// `kivrel [OPTIONS] [INPUT]`: a run of the module over the input, stopped
// cleanly by a terminating signal, with FFmpeg's own messages as -loglevel
// asks.
#include "commands/commands.h"
#include "os/av_support.h"
#include "os/signals.h"
#include "run/run.h"

int runRenderCommand(const Options& options) {
    installSignalHandlers();
    routeLibraryLog(options.logLevel);
    return runPipeline(options);
}
