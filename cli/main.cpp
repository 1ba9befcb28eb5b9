// kivrel: the command-line host. Loads the filter module as a plug-in host
// does, feeds it decoded frames and writes the displays it renders.
#include <cstdio>
#include <string>

#include "av_support.h"
#include "options.h"
#include "pipeline.h"
#include "pluginhost/module_host.h"
#include "signals.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswscale/swscale.h>
}

namespace {

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
    installSignalHandlers();
    routeLibraryLog(options.logLevel);
    return runPipeline(options);
}
