// The frei0r filter's parameters: every setting of the filter, named as the
// command-line host's long option for it and taking its words. FFmpeg sets
// parameters by position only, so this order is an interface (docs/frei0r.md):
// the texts first, then the switches, so that a filter graph may give any
// leading run of texts and no switch it does not want.
//
// A parameter the host has not set (or set to an empty text) keeps out of
// the way: the settings are the factory defaults, then the Config line's
// arguments, then every parameter that is set. So the result does not
// depend on the order a host sets them in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/settings_vocabulary.h"

enum FilterParam : int {
    kParamDisplay = 0,
    kParamConfig,
    kParamChannels,
    kParamSystem,
    kParamMatrix,
    kParamRange,
    kParamChange,
    kParamMaxIre,
    kParamGamma,  // the switches, from here to the end
    kParamGrid,
    kParamAccumulate,
    kParamPassthru,
    kParamCount,
};
inline constexpr int kFirstSwitchParam = kParamGamma;

struct FilterParamInfo {
    const char* name;
    const char* explanation;
};
extern const FilterParamInfo kFilterParamInfo[kParamCount];

inline bool isSwitchParam(int index) { return index >= kFirstSwitchParam && index < kParamCount; }
inline bool isTextParam(int index) { return index >= 0 && index < kFirstSwitchParam; }

// Room for the longest text a parameter takes (a Config line's thirteen
// numbers, each as long as int allows, and their separators).
inline constexpr size_t kParamTextSize = 256;
inline constexpr int8_t kSwitchUnset = -1;

// What the host has set, and the texts handed back to it (a host keeps the
// pointer f0r_get_param_value gives, so they live in the instance).
struct FilterParams {
    char text[kFirstSwitchParam][kParamTextSize];  // as given; empty: not set
    char shown[kFirstSwitchParam][kParamTextSize];
    int8_t switches[kParamCount - kFirstSwitchParam];  // kSwitchUnset, 0 or 1
};

void resetParams(FilterParams& p);
// False, changing nothing, for a text the parameter does not take (or one
// too long to keep); "" unsets the parameter.
bool setTextParam(FilterParams& p, int index, const char* text);
// frei0r's booleans are doubles: on from 0.5 up (NaN is off).
void setSwitchParam(FilterParams& p, int index, double value);
// The text the parameter reads back as: what was set, or the factory
// default's words (the Config line's: "" when not set).
const char* shownText(FilterParams& p, int index);
double switchValue(const FilterParams& p, int index);

ScopeSettings settingsOf(const FilterParams& p);
