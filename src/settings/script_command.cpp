#include "settings/script_command.h"

#include <cstdio>

namespace {

uint8_t flag(int v) { return v != 0 ? 1 : 0; }

const char* word(uint8_t on, const char* text) { return on ? text : ""; }

const char* changeWord(int32_t hotFix) {
    switch (hotFix) {
    case 0: return "to black";
    case 1: return "intensity";
    default: return "saturation";
    }
}

}  // namespace

void applyConfigArgs(ScopeSettings& s, const int (&a)[kConfigArgCount]) {
    s.mode = a[0];
    s.passthru = flag(a[1]);
    s.accum = flag(a[2]);
    s.ntsc = flag(a[3]);
    s.gamma = flag(a[4]);
    s.stdDef = flag(a[5]);
    s.rng255 = flag(a[6]);
    s.luma = flag(a[7]);
    s.red = flag(a[8]);
    s.green = flag(a[9]);
    s.blue = flag(a[10]);
    s.hotFix = a[11];
    s.wfmGrid = flag(a[12]);
}

void formatScriptLine(const ScopeSettings& s, char* buf, size_t size) {
    if (size == 0) return;
    std::snprintf(buf, size, "Config(%d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d, %d)",
                  s.mode, s.passthru, s.accum, s.ntsc, s.gamma, s.stdDef, s.rng255, s.luma,
                  s.red, s.green, s.blue, s.hotFix, s.wfmGrid);
}

void formatLabel(const ScopeSettings& s, char* buf) {
    if (s.passthru) {
        std::snprintf(buf, kLabelMax, " (Passthru)");
        return;
    }
    switch (s.mode) {
    case static_cast<int32_t>(DisplayMode::Histograms):
        std::snprintf(buf, kLabelMax, " (Histograms < %s%s%s%s>)", word(s.luma, "Luma "),
                      word(s.red, "Red "), word(s.green, "Green "), word(s.blue, "Blue"));
        break;
    case static_cast<int32_t>(DisplayMode::HotPixel):
        std::snprintf(buf, kLabelMax, " (Hot Pixel < IRE %d Change %s>)", s.maxIRE,
                      changeWord(s.hotFix));
        break;
    case static_cast<int32_t>(DisplayMode::Video):
        if (s.luma)
            std::snprintf(buf, kLabelMax, " (Video <Luma>)");
        else
            std::snprintf(buf, kLabelMax, " (Video <%s%s%s>)", word(s.red, "Red "),
                          word(s.green, "Green "), word(s.blue, "Blue"));
        break;
    case static_cast<int32_t>(DisplayMode::Waveform):
        std::snprintf(buf, kLabelMax, " (Wave Form Monitor <%s%s%s%s>)", word(s.luma, "Luma "),
                      word(s.red, "Red "), word(s.green, "Green "), word(s.blue, "Blue"));
        break;
    default:
        break;  // the vectorscope has no label
    }
}
