#include "commands/store_command.h"

#include <cstdio>
#include <string_view>

#include "filter/one_run_store.h"
#include "options/parse.h"
#include "vocabulary.h"

namespace {

constexpr std::string_view kConfigureName = "configure";

// Whether the command line holds only what the store commands take: the
// settings, --module and how much to say. Anything about inputs, outputs or
// frames would be dropped without a word.
bool settingsOnly(const Options& o) {
    return o.input.empty() && o.output.empty() && o.scriptFile.empty() && o.verifyFile.empty() &&
           o.format.empty() && o.codec.empty() && o.pixelFormat.empty() && !o.monitor.wanted() && !o.frames &&
           !o.duration && !o.endTime && o.start.atBeginning() && o.start.text.empty() && !o.startNumber &&
           o.threads == 0 && o.padPitch == 0 && o.cardWidth == 0 && !o.printConfig && !o.overwrite &&
           !o.neverOverwrite && !o.keepPartial && !o.skipErrors && !o.nullOutput && !o.noAutorotate &&
           !o.inputLevels.matrix && !o.inputLevels.fullRange && !o.inputLevels.fields;
}

}  // namespace

int parseStoreCommandLine(int argc, char** argv, Options& options) {
    const std::string command = argv[0];
    Action action = Action::Run;
    if (Status s = parseCommandLine(argc, argv, options, action); !s.ok()) {
        logLine(s.message() + " (kivrel --help lists the options)");
        return kExitUsage;
    }
    if (options.monitor.wanted()) {
        logLine("kivrel " + command +
                " stores the settings of one display: a list of displays, -d parade and the monitor "
                "options (--layout, --picture-size, --crop, --labels) are for rendering");
        return kExitUsage;
    }
    if (action != Action::Run || !settingsOnly(options)) {
        logLine("kivrel " + command + " takes settings options only (--display, --max-ire, ...)");
        return kExitUsage;
    }
    if (command == kConfigureName && (hasConfigOverrides(options) || options.maxIre)) {
        logLine("kivrel configure takes no settings options: the dialog sets them");
        return kExitUsage;
    }
    return kExitOk;
}
