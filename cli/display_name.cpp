#include "display_name.h"

#include "core/settings_vocabulary.h"
#include "pluginhost/script_call.h"

namespace {

constexpr const char* kPassthruName = "passthru";
constexpr const char* kUnknownName = "filtered";

}  // namespace

std::string Display::name() const {
    if (!known) return kUnknownName;
    if (passthru) return kPassthruName;
    return rendered() ? std::string(kDisplayNames[mode]) : "mode" + std::to_string(mode);
}

bool Display::rendered() const { return mode >= 0 && mode < kDisplayModeCount; }

Display currentDisplay(FilterInstance& inst) {
    Display d;
    ScriptCall call;
    ConfigArgs args{};
    if (parseScriptCall(inst.scriptLine(), call) == LineKind::Call && configArgsOf(call, args).ok()) {
        d.known = true;
        d.mode = args[kArgMode];
        d.passthru = args[kArgPassthru] != 0;
        for (int c = 0; c < kChannelCount; ++c) d.channels[c] = args[kArgLuma + c] != 0;
    }
    return d;
}
