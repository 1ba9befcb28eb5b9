#include "filter/display_state.h"

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

bool showsPicture(int mode, bool passthru) {
    return passthru || mode == static_cast<int>(DisplayMode::Video) ||
           mode == static_cast<int>(DisplayMode::HotPixel);
}

Display currentDisplay(FilterInstance& inst) {
    Display d;
    ConfigArgs args{};
    if (configArgsOfLine(inst.scriptLine(), args)) {
        d.known = true;
        d.mode = args[kArgMode];
        d.passthru = args[kArgPassthru] != 0;
        for (int c = 0; c < kChannelCount; ++c) d.channels[c] = args[kArgLuma + c] != 0;
    }
    return d;
}

Status currentArgs(FilterInstance& inst, ConfigArgs& args) {
    const std::string current = inst.scriptLine();
    if (current.empty())
        return Status::fail("the filter saves no script line, so its settings cannot be set one by one");
    if (!configArgsOfLine(current, args))
        return Status::fail("cannot read the filter's script line back: '" + current + "'");
    return {};
}

bool filterStudioRange(FilterInstance& inst) {
    ConfigArgs args{};
    return currentArgs(inst, args).ok() && args[kArgRng255] == 0;
}
