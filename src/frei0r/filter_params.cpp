#include "frei0r/filter_params.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "core/setting_words.h"
#include "settings/script_command.h"

const FilterParamInfo kFilterParamInfo[kParamCount] = {
    {"display", "histograms, hotpixel, video, waveform or vectorscope"},
    {"config", "the 13 numbers of a processing script's Config line, separated by spaces, commas or /"},
    {"channels", "luma, red, green, blue (any of them, separated by +, /, spaces or commas), all or none"},
    {"system", "colour system of the hot pixel scan: ntsc or pal"},
    {"matrix", "luma weights: 601 (Std Def) or 709 (High Def)"},
    {"range", "source levels: 0-255 or 16-235"},
    {"change", "what the hot pixel scan does with an illegal pixel: black, intensity or saturation"},
    {"max-ire", "hot pixel ceiling in IRE, 0 to 120"},
    {"gamma", "source levels are gamma corrected"},
    {"grid", "waveform graticule"},
    {"accumulate", "histograms keep minimum and maximum over frames"},
    {"passthru", "show the picture unchanged, whatever the display"},
};

namespace {

using Apply = bool (*)(ScopeSettings&, std::string_view);

bool applyDisplay(ScopeSettings& s, std::string_view text) {
    const int mode = wordIndex(text, kDisplayNames);
    if (mode < 0) return false;
    s.mode = mode;
    return true;
}

bool applyConfig(ScopeSettings& s, std::string_view text) {
    int args[kConfigArgCount];
    if (!parseConfigArgs(text, args)) return false;
    applyConfigArgs(s, args);
    return true;
}

bool isChannelSeparator(char c) { return c == ',' || c == '+' || c == '/' || c == ' '; }

bool applyChannels(ScopeSettings& s, std::string_view text) {
    uint8_t on[kChannelCount] = {};
    if (text == kAllChannelsWord) {
        for (uint8_t& c : on) c = 1;
    } else if (text != kNoChannelsWord) {
        int named = 0;
        for (size_t begin = 0; begin < text.size();) {
            size_t end = begin;
            while (end < text.size() && !isChannelSeparator(text[end])) ++end;
            if (end > begin) {
                const int channel = wordIndex(text.substr(begin, end - begin), kChannelWords);
                if (channel < 0) return false;
                on[channel] = 1;
                ++named;
            }
            begin = end + 1;
        }
        if (named == 0) return false;
    }
    s.luma = on[kLuma];
    s.red = on[kRed];
    s.green = on[kGreen];
    s.blue = on[kBlue];
    return true;
}

// A two-way choice whose first word turns `field` on.
template <uint8_t ScopeSettings::*field, const std::string_view (&words)[2]>
bool applyFirstIsOn(ScopeSettings& s, std::string_view text) {
    const int index = wordIndex(text, words);
    if (index < 0) return false;
    s.*field = index == 0 ? 1 : 0;
    return true;
}

bool applyChange(ScopeSettings& s, std::string_view text) {
    const int index = wordIndex(text, kChangeWords);
    if (index < 0) return false;
    s.hotFix = index;
    return true;
}

// A whole number; hosts that keep numbers as doubles (Kdenlive's sliders)
// may write it with a fraction of zeros: "110.000000".
bool applyMaxIre(ScopeSettings& s, std::string_view text) {
    int ire = 0;
    const char* const last = text.data() + text.size();
    auto [end, ec] = std::from_chars(text.data(), last, ire);
    if (ec != std::errc() || ire < kMaxIreLowest || ire > kMaxIreHighest) return false;
    if (end != last && *end == '.')
        for (++end; end != last && *end == '0';) ++end;
    if (end != last) return false;
    s.maxIRE = ire;
    return true;
}

const Apply kApply[kFirstSwitchParam] = {
    applyDisplay,
    applyConfig,
    applyChannels,
    applyFirstIsOn<&ScopeSettings::ntsc, kSystemWords>,
    applyFirstIsOn<&ScopeSettings::stdDef, kMatrixWords>,
    applyFirstIsOn<&ScopeSettings::rng255, kRangeWords>,
    applyChange,
    applyMaxIre,
};

uint8_t ScopeSettings::*const kSwitchFields[kParamCount - kFirstSwitchParam] = {
    &ScopeSettings::gamma,
    &ScopeSettings::wfmGrid,
    &ScopeSettings::accum,
    &ScopeSettings::passthru,
};

void copyWord(char* buf, std::string_view word) {
    const size_t n = word.size() < kParamTextSize - 1 ? word.size() : kParamTextSize - 1;
    std::memcpy(buf, word.data(), n);
    buf[n] = '\0';
}

std::string_view firstIsOnWord(uint8_t on, const std::string_view (&words)[2]) {
    return firstWord(words[on ? 0 : 1]);
}

// The words of setting `index` in `s`, as the parameter takes them.
void formatParam(const ScopeSettings& s, int index, char* buf) {
    switch (index) {
    case kParamDisplay: copyWord(buf, kDisplayNames[s.mode]); break;
    case kParamChannels: {
        const int32_t on = switchedOnChannels(s);
        if (on == kChannelCount || on == 0) {
            copyWord(buf, on == 0 ? kNoChannelsWord : kAllChannelsWord);
            break;
        }
        buf[0] = '\0';
        for (int c = 0; c < kChannelCount; ++c) {
            if (!channelOn(s, c)) continue;
            if (buf[0] != '\0') std::strcat(buf, "+");
            std::strncat(buf, firstWord(kChannelWords[c]).data(), firstWord(kChannelWords[c]).size());
        }
        break;
    }
    case kParamSystem: copyWord(buf, firstIsOnWord(s.ntsc, kSystemWords)); break;
    case kParamMatrix: copyWord(buf, firstIsOnWord(s.stdDef, kMatrixWords)); break;
    case kParamRange: copyWord(buf, firstIsOnWord(s.rng255, kRangeWords)); break;
    case kParamChange: copyWord(buf, firstWord(kChangeWords[s.hotFix])); break;
    case kParamMaxIre: std::snprintf(buf, kParamTextSize, "%d", static_cast<int>(s.maxIRE)); break;
    default: buf[0] = '\0'; break;  // the Config line: not set
    }
}

}  // namespace

void resetParams(FilterParams& p) {
    for (char* text : p.text) text[0] = '\0';
    for (int8_t& on : p.switches) on = kSwitchUnset;
}

bool setTextParam(FilterParams& p, int index, const char* text) {
    if (!isTextParam(index) || text == nullptr) return false;
    const size_t length = strnlen(text, kParamTextSize);
    if (length == kParamTextSize) return false;
    if (length > 0) {
        ScopeSettings tried = kDefaultSettings;
        if (!kApply[index](tried, std::string_view(text, length))) return false;
    }
    std::memcpy(p.text[index], text, length + 1);
    return true;
}

void setSwitchParam(FilterParams& p, int index, double value) {
    constexpr double kOnFrom = 0.5;  // frei0r's threshold between false and true
    if (isSwitchParam(index)) p.switches[index - kFirstSwitchParam] = value >= kOnFrom ? 1 : 0;
}

const char* shownText(FilterParams& p, int index) {
    if (!isTextParam(index)) return "";
    if (p.text[index][0] != '\0') return p.text[index];
    formatParam(kDefaultSettings, index, p.shown[index]);
    return p.shown[index];
}

double switchValue(const FilterParams& p, int index) {
    if (!isSwitchParam(index)) return 0.0;
    const int8_t on = p.switches[index - kFirstSwitchParam];
    const uint8_t field =
        on == kSwitchUnset ? kDefaultSettings.*kSwitchFields[index - kFirstSwitchParam] : on;
    return field != 0 ? 1.0 : 0.0;
}

ScopeSettings settingsOf(const FilterParams& p) {
    ScopeSettings s = kDefaultSettings;
    // The Config line first, so that every parameter set beside it wins.
    if (p.text[kParamConfig][0] != '\0') kApply[kParamConfig](s, p.text[kParamConfig]);
    for (int index = 0; index < kFirstSwitchParam; ++index)
        if (index != kParamConfig && p.text[index][0] != '\0') kApply[index](s, p.text[index]);
    for (int k = 0; k < kParamCount - kFirstSwitchParam; ++k)
        if (p.switches[k] != kSwitchUnset) s.*kSwitchFields[k] = static_cast<uint8_t>(p.switches[k]);
    return s;
}
