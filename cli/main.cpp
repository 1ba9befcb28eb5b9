// kivrel: the command-line host. Loads the filter module as a plug-in host
// does, feeds it decoded frames and writes the displays it renders. Here
// only the dispatch: the version, the help, or one command (commands/).
#include <cstdio>
#include <string>
#include <string_view>

#include "commands/commands.h"
#include "options/help.h"
#include "options/parse.h"
#include "os/av_support.h"
#include "pluginhost/module_host.h"
#include "vocabulary.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswscale/swscale.h>
}

namespace {

// The commands a first word names; without one, kivrel renders.
constexpr Command kCommands[] = {
    {"defaults", runDefaultsCommand},
    {"configure", runConfigureCommand},
    {"report", runReportCommand},
    {"play", runPlayCommand},
};

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
    // From the first word on: the command line's expressions (--crop) are
    // FFmpeg's to read, and its complaints kivrel's to word.
    routeLibraryLog(AV_LOG_QUIET);
    if (argc > 1)
        for (const Command& command : kCommands)
            if (argv[1] == command.name) return command.run(argc - 1, argv + 1);
    Options options;
    Action action = Action::Run;
    if (Status s = parseCommandLine(argc, argv, options, action); !s.ok()) {
        logLine(s.message() + " (kivrel --help lists the options)");
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
    return runRenderCommand(options);
}
