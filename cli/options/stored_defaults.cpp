#include "options/stored_defaults.h"

#include <algorithm>
#include <cstdio>

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

int setDefaults(const Options& options) {
    warnIfStoreUnreadable();
    ScopeSettings s{};
    loadSettings(s);
    if (hasConfigOverrides(options) || options.maxIre) {
        ConfigArgs args{};
        if (!configArgsOfLine(scriptLineOf(s), args)) {
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

std::string scriptLineOf(const ScopeSettings& s) {
    char line[kScriptLineMax + 32];  // room for modes and actions of any size
    formatScriptLine(s, line, sizeof line);
    return line;
}

// Without the space that separates the label from the filter's name.
void printSettings(const ScopeSettings& s) {
    char label[kLabelMax] = {};
    formatLabel(s, label);
    const char* text = label[0] == ' ' ? label + 1 : label;
    std::printf("%s\n%s\nmaxIRE %d\n", text, scriptLineOf(s).c_str(), s.maxIRE);
}

int saveFailed(int problem) {
    logLine("could not save the defaults to " + storeName() + storeProblemNote(problem));
    return kExitFailure;
}
