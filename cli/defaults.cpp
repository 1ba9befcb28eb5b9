#include "defaults.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "dialog/config_dialog.h"
#include "dialog/terminal_form.h"
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
constexpr const char* kMaxIreName = "maxIRE";  // the store's value names
constexpr const char* kModeName = "mode";

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

std::string storeName() { return settingsStorePath().text; }

// The store's own words for why, in brackets; nothing when it gave none.
std::string because(int problem) {
    return problem != 0 ? std::string(" (") + storeProblemText(problem) + ")" : "";
}

int saveFailed(int problem) {
    report("could not save the defaults to " + storeName() + because(problem));
    return kExitFailure;
}

// The settings with a "Config" line's values in place of their own.
Status withScriptLine(ScopeSettings& s, const std::string& line) {
    ScriptCall call;
    ConfigArgs args{};
    if (parseScriptCall(line, call) != LineKind::Call || !configArgsOf(call, args).ok())
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

void warnIfStoreUnreadable() {
    if (const int problem = settingsStoreProblem(); problem != 0)
        report("the settings store " + storeName() + " could not be read" + because(problem) +
               "; using the factory defaults");
}

int runDefaultsCommand(const Options& options) {
    warnIfStoreUnreadable();
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
        // What the store holds decides: a write that failed after its value
        // was already there lost nothing.
        const bool written = saveSettings(s);
        ScopeSettings saved{};
        loadSettings(saved);
        if (!sameSettings(saved, s)) return saveFailed(written ? 0 : lastStoreWriteProblem());
    }
    print(s);
    return kExitOk;
}

int runConfigureCommand(const Options& options) {
    auto fail = [](const std::string& message) {
        report(message);
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
        report("the terminal is " + std::to_string(now.cols) + "x" + std::to_string(now.rows) +
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
    // An unreadable store gives the factory defaults (the run has said so).
    if (user.text[0] != '\0' && settingsStoreProblem() == 0 && fs::exists(user.text, ec)) {
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
