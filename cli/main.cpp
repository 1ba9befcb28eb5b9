// kivrel: the command-line host. Loads the filter module as a plug-in host
// does, feeds it decoded frames and writes the displays it renders.
#include <cstdio>
#include <string>
#include <string_view>

#include "av_support.h"
#include "defaults.h"
#include "options.h"
#include "pipeline.h"
#include "play/play_command.h"
#include "pluginhost/module_host.h"
#include "report/report.h"
#include "signals.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr std::string_view kDefaultsCommand = "defaults";
constexpr std::string_view kConfigureCommand = "configure";
constexpr std::string_view kReportCommand = "report";
constexpr std::string_view kPlayCommand = "play";

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

// Whether the command line holds only what the store commands take: the
// settings, --module and how much to say. Anything about inputs, outputs or
// frames would be dropped without a word.
bool settingsOnly(const Options& o) {
    return o.input.empty() && o.output.empty() && o.scriptFile.empty() && o.verifyFile.empty() &&
           o.format.empty() && o.codec.empty() && o.pixelFormat.empty() && !o.monitor.wanted() && !o.frames &&
           !o.duration && !o.endTime && o.start.atBeginning() && o.start.text.empty() && !o.startNumber &&
           o.threads == 0 && o.padPitch == 0 && o.cardWidth == 0 && !o.printConfig && !o.overwrite &&
           !o.neverOverwrite && !o.keepPartial && !o.skipErrors && !o.nullOutput && !o.noAutorotate &&
           !o.inputLevels.matrix && !o.inputLevels.fullRange;
}

// `kivrel defaults [settings options]` (the stored defaults, shown or set)
// and `kivrel configure [--module PATH]` (set in the filter's dialog).
int storeCommand(std::string_view command, int argc, char** argv) {
    Options options;
    Action action = Action::Run;
    if (Status s = parseCommandLine(argc, argv, options, action); !s.ok()) {
        report(s.message() + " (kivrel --help lists the options)");
        return kExitUsage;
    }
    if (options.monitor.wanted()) {
        report("kivrel " + std::string(command) +
               " stores the settings of one display: a list of displays, -d parade and the monitor "
               "options (--layout, --picture-size, --crop, --labels) are for rendering");
        return kExitUsage;
    }
    if (action != Action::Run || !settingsOnly(options)) {
        report("kivrel " + std::string(command) + " takes settings options only (--display, --max-ire, ...)");
        return kExitUsage;
    }
    if (command == kConfigureCommand) {
        if (hasConfigOverrides(options) || options.maxIre) {
            report("kivrel configure takes no settings options: the dialog sets them");
            return kExitUsage;
        }
        return runConfigureCommand(options);
    }
    return runDefaultsCommand(options);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (argv[1] == kDefaultsCommand || argv[1] == kConfigureCommand))
        return storeCommand(argv[1], argc - 1, argv + 1);
    if (argc > 1 && argv[1] == kReportCommand) return runReportCommand(argc - 1, argv + 1);
    if (argc > 1 && argv[1] == kPlayCommand) return runPlayCommand(argc - 1, argv + 1);
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
    installSignalHandlers();
    routeLibraryLog(options.logLevel);
    return runPipeline(options);
}
