// What an instance's settings are now, read back from the filter's own
// script line. The display they show (pass-through shows the picture, else
// the mode decides) names the default output and refuses a mode the filter
// does not render.
#pragma once

#include <array>
#include <string>

#include "core/settings_vocabulary.h"
#include "pluginhost/module_host.h"
#include "pluginhost/script_call.h"

struct Display {
    bool known = false;  // the filter saves a Config line we can read
    int mode = 0;
    bool passthru = false;
    std::array<bool, kChannelCount> channels{};  // the switches, in channel order
    std::string name() const;                    // "waveform", "passthru", or "filtered" when not known
    bool rendered() const;                       // a mode the filter draws
};

Display currentDisplay(FilterInstance& inst);

// Whether a display shows the picture itself at its own geometry (passed
// through, the video view, the hot pixel scan) rather than a scope.
bool showsPicture(int mode, bool passthru);

// The instance's "Config" arguments now; fails when its script line cannot be read back.
Status currentArgs(FilterInstance& inst, ConfigArgs& args);

// Whether the filter's range setting is 16-235.
bool filterStudioRange(FilterInstance& inst);
