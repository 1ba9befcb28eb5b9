// `kivrel configure [--module PATH]`: the filter's own dialog on the
// terminal, through the module's exports as a host opens it. On OK the
// module saves the new defaults (printed then); Cancel gives 1, a terminal
// too small for the form kExitTerminalTooSmall.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "commands/commands.h"
#include "commands/store_command.h"
#include "dialog/config_dialog.h"
#include "dialog/terminal_form.h"
#include "filter/one_run_store.h"
#include "options/stored_defaults.h"
#include "os/paths.h"
#include "pluginhost/module_host.h"
#include "pluginhost/script_call.h"
#include "settings/settings_store.h"
#include "settings/store_file.h"
#include "vocabulary.h"

namespace {

constexpr const char* kModeName = "mode";  // a value the store holds once saved

// The settings with a "Config" line's values in place of their own.
Status withScriptLine(ScopeSettings& s, const std::string& line) {
    ConfigArgs args{};
    if (!configArgsOfLine(line, args))
        return Status::fail("cannot read the settings back from '" + line + "'");
    int raw[kConfigArgCount];
    std::copy(args.begin(), args.end(), raw);
    applyConfigArgs(s, raw);
    return {};
}

// The controlling terminal's size, as the form sees it; 0x0 when unknown.
TerminalSize terminalSize() {
    TerminalSize size;
    const int fd = ::open("/dev/tty", O_RDONLY | O_CLOEXEC);
    winsize ws{};
    if (fd >= 0 && ::ioctl(fd, TIOCGWINSZ, &ws) == 0) size = {ws.ws_col, ws.ws_row};
    if (fd >= 0) ::close(fd);
    return size;
}

}  // namespace

int runConfigureCommand(int argc, char** argv) {
    Options options;
    if (const int status = parseStoreCommandLine(argc, argv, options); status != kExitOk) return status;
    auto fail = [](const std::string& message) {
        logLine(message);
        return kExitFailure;
    };
    Status error;
    std::string modulePath;
    if (Status s = findModule(options.modulePath, modulePath); !s.ok()) return fail(s.message());
    const std::unique_ptr<FilterModuleHost> module = FilterModuleHost::load(modulePath, error);
    if (!module) return fail(error.message());
    warnIfStoreUnreadable();
    FilterInstance inst(*module);
    int result = 0;
    if (Status s = inst.init(); !s.ok()) return fail(s.message());
    if (Status s = inst.configure(result); !s.ok()) return fail(s.message());
    if (result == kDialogCancel) return kExitFailure;
    if (result == kDialogTooSmall) {
        const TerminalSize now = terminalSize(), least = configFormLeastSize();
        logLine("the terminal is " + std::to_string(now.cols) + "x" + std::to_string(now.rows) +
                "; the configuration form needs at least " + std::to_string(least.cols) + "x" +
                std::to_string(least.rows));
        return kExitTerminalTooSmall;
    }
    if (result != kDialogOk) return fail("the configuration dialog could not open (it needs a terminal)");
    // The module saves without a word; when the store does not hold what
    // the dialog chose (a store with no values reads as the factory
    // defaults, which may be the choice), the same save through the
    // settings code says why.
    if (const int problem = settingsStoreProblem(); problem != 0) return saveFailed(problem);
    const std::string chosen = inst.scriptLine();
    ScopeSettings saved{};
    const auto holdsChoice = [&] {
        loadSettings(saved);
        const bool stored = readRegistryText(kSettingsKey, kModeName).text != std::string(kAbsentText);
        return stored && scriptLineOf(saved) == chosen;
    };
    if (!holdsChoice()) {
        if (Status s = withScriptLine(saved, chosen); !s.ok()) return fail(s.message());
        const bool written = saveSettings(saved);
        if (!holdsChoice()) return saveFailed(written ? 0 : lastStoreWriteProblem());
    }
    printSettings(saved);
    return kExitOk;
}
