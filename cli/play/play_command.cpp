#include "play/play_command.h"

#include <memory>
#include <string_view>
#include <vector>

#include "av_support.h"
#include "defaults.h"
#include "options.h"
#include "paths.h"
#include "pipeline.h"
#include "play/player.h"
#include "pluginhost/module_host.h"
#include "signals.h"

namespace {

// The viewer's own words; everything else is a render's option.
constexpr std::string_view kPausedOption = "--paused";
// For tests: a hash line per frame shown ("frame,pts,md5", as -o x.md5
// writes), of the module's output before the status line and any scaling.
constexpr std::string_view kPresentedHashOption = "--presented-md5";

}  // namespace

Status takePlayOptions(int argc, char** argv, PlayOptions& play, std::vector<char*>& rest) {
    rest.assign(argv, argv + 1);
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        if (word == kPausedOption) {
            play.paused = true;
        } else if (word == kPresentedHashOption) {
            if (i + 1 >= argc) return Status::usage(std::string(kPresentedHashOption) + " needs a file name");
            play.hashFile = argv[++i];
        } else {
            rest.push_back(argv[i]);
        }
    }
    return {};
}

namespace {

// What a window cannot do: write files, check them, or stop after a count.
bool writesSomething(const Options& o) {
    return !o.output.empty() || !o.format.empty() || !o.codec.empty() || !o.pixelFormat.empty() ||
           !o.verifyFile.empty() || o.nullOutput || o.keepPartial || o.printConfig;
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
        report(parsed.message() + " (kivrel --help lists the options)");
        return kExitUsage;
    }
    if (action != Action::Run) {
        report("kivrel play takes an input and the options of a render; kivrel --help lists them");
        return kExitUsage;
    }
    if (writesSomething(options)) {
        report(
            "kivrel play shows the displays in a window and writes nothing: -o, -f, -c:v, -pix_fmt, "
            "--verify, --null, --keep-partial and --print-config are for a render");
        return kExitUsage;
    }
    installSignalHandlers();
    routeLibraryLog(options.logLevel);
    std::string modulePath;
    Status error;
    if (Status s = findModule(options.modulePath, modulePath); !s.ok()) {
        report(s.message());
        return kExitFailure;
    }
    std::unique_ptr<FilterModuleHost> module = FilterModuleHost::load(modulePath, error);
    if (!module) {
        report(error.message());
        return kExitFailure;
    }
    warnIfStoreUnreadable();
    Player player(*module, options, play);
    const Status s = player.run();
    const PlayCounts& n = player.counts();
    if (!s.ok()) {
        report(s.message());
        if (const int sig = pendingSignal(); sig != 0) return exitStatusForSignal(sig);
        return s.isUsage() ? kExitUsage : kExitFailure;
    }
    report(std::to_string(n.shown) + (n.shown == 1 ? " frame" : " frames") + " shown, " +
           std::to_string(n.dropped) + " dropped");
    return kExitOk;
}
