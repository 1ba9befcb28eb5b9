#include "settings/script_command.h"

#include <cstdio>

namespace {

uint8_t flag(int v) { return v != 0 ? 1 : 0; }

const char* word(uint8_t on, const char* text) { return on ? text : ""; }

// Every value beyond the named ones acts as saturation, and is called so.
const char* changeWord(int32_t hotFix) {
    const int32_t known = hotFix == kHotFixToBlack || hotFix == kHotFixIntensity ? hotFix : kHotFixSaturation;
    return kHotFixWords[known].data();
}

}  // namespace

void applyConfigArgs(ScopeSettings& s, const int (&a)[kConfigArgCount]) {
    s.mode = a[kArgMode];
    s.passthru = flag(a[kArgPassthru]);
    s.accum = flag(a[kArgAccum]);
    s.ntsc = flag(a[kArgNtsc]);
    s.gamma = flag(a[kArgGamma]);
    s.stdDef = flag(a[kArgStdDef]);
    s.rng255 = flag(a[kArgRng255]);
    s.luma = flag(a[kArgLuma]);
    s.red = flag(a[kArgRed]);
    s.green = flag(a[kArgGreen]);
    s.blue = flag(a[kArgBlue]);
    s.hotFix = a[kArgHotFix];
    s.wfmGrid = flag(a[kArgWfmGrid]);
}

void settingsAsConfigArgs(const ScopeSettings& s, int (&a)[kConfigArgCount]) {
    a[kArgMode] = s.mode;
    a[kArgPassthru] = s.passthru;
    a[kArgAccum] = s.accum;
    a[kArgNtsc] = s.ntsc;
    a[kArgGamma] = s.gamma;
    a[kArgStdDef] = s.stdDef;
    a[kArgRng255] = s.rng255;
    a[kArgLuma] = s.luma;
    a[kArgRed] = s.red;
    a[kArgGreen] = s.green;
    a[kArgBlue] = s.blue;
    a[kArgHotFix] = s.hotFix;
    a[kArgWfmGrid] = s.wfmGrid;
}

void formatScriptLine(const ScopeSettings& s, char* buf, size_t size) {
    if (size == 0) return;
    std::snprintf(buf, size, "Config(%d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d)", s.mode, s.passthru,
                  s.accum, s.ntsc, s.gamma, s.stdDef, s.rng255, s.luma, s.red, s.green, s.blue, s.hotFix,
                  s.wfmGrid);
}

void formatLabel(const ScopeSettings& s, char* buf) {
    if (s.passthru) {
        std::snprintf(buf, kLabelMax, " (Passthru)");
        return;
    }
    switch (s.mode) {
    case static_cast<int32_t>(DisplayMode::Histograms):
        std::snprintf(buf, kLabelMax, " (Histograms < %s%s%s%s>)", word(s.luma, "Luma "), word(s.red, "Red "),
                      word(s.green, "Green "), word(s.blue, "Blue"));
        break;
    case static_cast<int32_t>(DisplayMode::HotPixel):
        std::snprintf(buf, kLabelMax, " (Hot Pixel < IRE %d Change %s>)", s.maxIRE, changeWord(s.hotFix));
        break;
    case static_cast<int32_t>(DisplayMode::Video):
        if (s.luma)
            std::snprintf(buf, kLabelMax, " (Video <Luma>)");
        else
            std::snprintf(buf, kLabelMax, " (Video <%s%s%s>)", word(s.red, "Red "), word(s.green, "Green "),
                          word(s.blue, "Blue"));
        break;
    case static_cast<int32_t>(DisplayMode::Waveform):
        std::snprintf(buf, kLabelMax, " (Wave Form Monitor <%s%s%s%s>)", word(s.luma, "Luma "),
                      word(s.red, "Red "), word(s.green, "Green "), word(s.blue, "Blue"));
        break;
    default: break;  // the vectorscope has no label
    }
}
