// `kivrel defaults [settings options]`: the stored defaults every new
// instance starts from, shown, or set and then shown.
#include <algorithm>

#include "commands/commands.h"
#include "commands/store_command.h"
#include "filter/one_run_store.h"
#include "options/parse.h"
#include "pluginhost/script_call.h"
#include "settings/settings_store.h"
#include "settings/store_file.h"
#include "vocabulary.h"

namespace {

bool sameSettings(const ScopeSettings& a, const ScopeSettings& b) {
    return scriptLineOf(a) == scriptLineOf(b) && a.maxIRE == b.maxIRE;
}

}  // namespace

int runDefaultsCommand(int argc, char** argv) {
    Options options;
    if (const int status = parseStoreCommandLine(argc, argv, options); status != kExitOk) return status;
    return setDefaults(options);
}

int setDefaults(const Options& options) {
    warnIfStoreUnreadable();
    ScopeSettings s{};
    loadSettings(s);
    if (hasConfigOverrides(options) || options.maxIre) {
        ScriptCall call;
        ConfigArgs args{};
        if (parseScriptCall(scriptLineOf(s), call) != LineKind::Call || !configArgsOf(call, args).ok()) {
            logLine("cannot read the stored settings back");
            return kExitFailure;
        }
        applyConfigOverrides(options, args);
        int raw[kConfigArgCount];
        std::copy(args.begin(), args.end(), raw);
        applyConfigArgs(s, raw);
        if (options.maxIre) s.maxIRE = *options.maxIre;
        // What the store holds decides: a write that failed after its value
        // was already there lost nothing.
        const bool written = saveSettings(s);
        ScopeSettings saved{};
        loadSettings(saved);
        if (!sameSettings(saved, s)) return saveFailed(written ? 0 : lastStoreWriteProblem());
    }
    printSettings(s);
    return kExitOk;
}
