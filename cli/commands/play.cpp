// `kivrel play INPUT [options]`: the input in a window, in real time, with
// the displays a render with the same options would write.
#include "commands/commands.h"

#include <memory>
#include <string_view>
#include <vector>

#include "options/options.h"
#include "options/parse.h"
#include "os/av_support.h"
#include "os/signals.h"
#include "play/play_options.h"
#include "play/player.h"
#include "pluginhost/module_host.h"
#include "run/module.h"
#include "vocabulary.h"

namespace {

// What a window cannot do: write files, check them, or stop after a count.
bool writesSomething(const Options& o) {
    return !o.output.empty() || !o.format.empty() || !o.codec.empty() || !o.pixelFormat.empty() ||
           !o.verifyFile.empty() || o.nullOutput || o.keepPartial || o.printConfig;
}

// The line a stopped viewer ends with, and the status a shell then sees.
int endingOf(const Status& why) {
    logLine(why.message());
    if (const int sig = pendingSignal(); sig != 0) return exitStatusForSignal(sig);
    return why.isUsage() ? kExitUsage : kExitFailure;
}

}  // namespace

int runPlayCommand(int argc, char** argv) {
    PlayOptions play;
    std::vector<char*> rest;
    Options options;
    Action action = Action::Run;
    Status parsed = takePlayOptions(argc, argv, play, rest);
    if (parsed.ok()) parsed = parseCommandLine(static_cast<int>(rest.size()), rest.data(), options, action);
    if (!parsed.ok()) {
        logLine(parsed.message() + " (kivrel --help lists the options)");
        return kExitUsage;
    }
    if (action != Action::Run) {
        logLine("kivrel play takes an input and the options of a render; kivrel --help lists them");
        return kExitUsage;
    }
    if (writesSomething(options)) {
        logLine(
            "kivrel play shows the displays in a window and writes nothing: -o, -f, -c:v, -pix_fmt, "
            "--verify, --null, --keep-partial and --print-config are for a render");
        return kExitUsage;
    }
    if (!play.inputFormat.empty() && options.input.empty()) {
        logLine("--input-format " + play.inputFormat + " names how to read an input, and none is given");
        return kExitUsage;
    }
    if (!play.inputFormat.empty() && !options.inputFormat.empty()) {
        logLine("--input-format and -f before -i both name how to read the input; give one");
        return kExitUsage;
    }
    if (!play.inputFormat.empty()) options.inputFormat = play.inputFormat;
    installSignalHandlers();
    routeLibraryLog(options.logLevel);
    std::unique_ptr<FilterModuleHost> module;
    if (Status s = loadModule(options, module); !s.ok()) {
        logLine(s.message());
        return kExitFailure;
    }
    Player player(*module, options, play, endingOf);
    const Status s = player.run();
    const PlayCounts& n = player.counts();
    if (!s.ok()) {
        // Out at once on a signal: the window's teardown would wait on a display that may not answer.
        if (pendingSignal() != 0) player.leave(s);
        return endingOf(s);
    }
    logLine(std::to_string(n.shown) + (n.shown == 1 ? " frame" : " frames") + " shown, " +
            std::to_string(n.dropped) + " dropped" + (n.damaged ? "; the input is damaged" : ""));
    return kExitOk;
}
