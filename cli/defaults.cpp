#include "defaults.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "paths.h"
#include "pipeline.h"
#include "pluginhost/module_host.h"
#include "pluginhost/script_call.h"
#include "settings/script_command.h"
#include "settings/settings_store.h"
#include "settings/store_file.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kStoreVariable = "KIVREL_REGISTRY";
constexpr const char* kStoreFileName = "registry.reg";
constexpr const char* kMaxIreName = "maxIRE";  // the store's value name

std::string scriptLineOf(const ScopeSettings& s) {
    char line[kScriptLineMax + 32];  // room for modes and actions of any size
    formatScriptLine(s, line, sizeof line);
    return line;
}

// The label as the host's list shows it after the filter's name (without
// the space that separates them), the "Config" line, and maxIRE.
void print(const ScopeSettings& s) {
    char label[kLabelMax] = {};
    formatLabel(s, label);
    const char* text = label[0] == ' ' ? label + 1 : label;
    std::printf("%s\n%s\nmaxIRE %d\n", text, scriptLineOf(s).c_str(), s.maxIRE);
}

bool sameSettings(const ScopeSettings& a, const ScopeSettings& b) {
    return scriptLineOf(a) == scriptLineOf(b) && a.maxIRE == b.maxIRE;
}

}  // namespace

int runDefaultsCommand(const Options& options) {
    ScopeSettings s{};
    loadSettings(s);
    if (hasConfigOverrides(options) || options.maxIre) {
        ScriptCall call;
        ConfigArgs args{};
        if (parseScriptCall(scriptLineOf(s), call) != LineKind::Call || !configArgsOf(call, args).ok()) {
            report("cannot read the stored settings back");
            return kExitFailure;
        }
        applyConfigOverrides(options, args);
        int raw[kConfigArgCount];
        std::copy(args.begin(), args.end(), raw);
        applyConfigArgs(s, raw);
        if (options.maxIre) s.maxIRE = *options.maxIre;
        saveSettings(s);
        // The store reports nothing; read it back so that a failed save is not taken for done.
        ScopeSettings saved{};
        loadSettings(saved);
        if (!sameSettings(saved, s)) {
            report(std::string("could not save the defaults to ") + settingsStorePath().text);
            return kExitFailure;
        }
    }
    print(s);
    return kExitOk;
}

int runConfigureCommand(const Options& options) {
    constexpr int kDialogOk = 0, kDialogCancel = 1;
    auto fail = [](const std::string& message) {
        report(message);
        return kExitFailure;
    };
    Status error;
    std::string modulePath;
    if (Status s = findModule(options.modulePath, modulePath); !s.ok()) return fail(s.message());
    const std::unique_ptr<FilterModuleHost> module = FilterModuleHost::load(modulePath, error);
    if (!module) return fail(error.message());
    FilterInstance inst(*module);
    int result = 0;
    if (Status s = inst.init(); !s.ok()) return fail(s.message());
    if (Status s = inst.configure(result); !s.ok()) return fail(s.message());
    if (result == kDialogCancel) return kExitFailure;
    if (result != kDialogOk) return fail("the configuration dialog could not open (it needs a terminal)");
    ScopeSettings saved{};
    loadSettings(saved);
    print(saved);
    return kExitOk;
}

Status OneRunStore::open(int maxIre) {
    const StorePath user = settingsStorePath();
    const fs::path tmp = fs::temp_directory_path();
    std::string pattern = (tmp / "kivrel-store-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        return Status::fail("cannot make a folder for this run's settings in " + tmp.string());
    folder_ = pattern;
    file_ = (fs::path(folder_) / kStoreFileName).string();
    std::error_code ec;
    if (user.text[0] != '\0' && fs::exists(user.text, ec)) {
        fs::copy_file(user.text, file_, ec);
        if (ec)
            return Status::fail(std::string("cannot copy the settings store ") + user.text + ": " +
                                ec.message());
    }
    if (const char* previous = std::getenv(kStoreVariable)) {
        previous_ = previous;
        hadPrevious_ = true;
    }
    ::setenv(kStoreVariable, file_.c_str(), 1);
    active_ = true;
    writeRegistryText(kSettingsKey, kMaxIreName, std::to_string(maxIre).c_str());
    if (readRegistryText(kSettingsKey, kMaxIreName).text != std::to_string(maxIre))
        return Status::fail("cannot write this run's settings in " + folder_);
    return {};
}

OneRunStore::~OneRunStore() {
    if (active_) {
        if (hadPrevious_)
            ::setenv(kStoreVariable, previous_.c_str(), 1);
        else
            ::unsetenv(kStoreVariable);
    }
    if (!folder_.empty()) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
}
