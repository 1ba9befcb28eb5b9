#include "settings/script_command.h"

#include <charconv>
#include <cstdio>

namespace {

uint8_t flag(int v) { return v != 0 ? 1 : 0; }

const char* word(uint8_t on, const char* text) { return on ? text : ""; }

// Every value beyond the named ones acts as saturation, and is called so.
const char* changeWord(int32_t hotFix) {
    const int32_t known = hotFix == kHotFixToBlack || hotFix == kHotFixIntensity ? hotFix : kHotFixSaturation;
    return kHotFixWords[known].data();
}

// Each "Config" argument's position beside the field it sets: the one list
// both directions read.
template <typename Settings, typename Visit>
void forEachConfigField(Settings& s, Visit visit) {
    visit(kArgMode, s.mode);
    visit(kArgPassthru, s.passthru);
    visit(kArgAccum, s.accum);
    visit(kArgNtsc, s.ntsc);
    visit(kArgGamma, s.gamma);
    visit(kArgStdDef, s.stdDef);
    visit(kArgRng255, s.rng255);
    visit(kArgLuma, s.luma);
    visit(kArgRed, s.red);
    visit(kArgGreen, s.green);
    visit(kArgBlue, s.blue);
    visit(kArgHotFix, s.hotFix);
    visit(kArgWfmGrid, s.wfmGrid);
}

}  // namespace

void applyConfigArgs(ScopeSettings& s, const int (&a)[kConfigArgCount]) {
    forEachConfigField(s, [&a](ConfigArg k, auto& field) {
        // The one-byte fields are flags; mode and hotFix keep any value.
        if constexpr (sizeof field == 1)
            field = flag(a[k]);
        else
            field = a[k];
    });
}

bool parseConfigArgs(std::string_view text, int (&args)[kConfigArgCount]) {
    const auto isSeparator = [](char c) { return c == ',' || c == ' ' || c == '/'; };
    int parsed[kConfigArgCount];
    int count = 0;
    const char* p = text.data();
    const char* const end = p + text.size();
    for (;;) {
        while (p != end && isSeparator(*p)) ++p;
        if (p == end) break;
        if (count == kConfigArgCount) return false;
        const auto [next, ec] = std::from_chars(p, end, parsed[count]);
        if (ec != std::errc() || (next != end && !isSeparator(*next))) return false;
        ++count;
        p = next;
    }
    if (count != kConfigArgCount) return false;
    for (int i = 0; i < kConfigArgCount; ++i) args[i] = parsed[i];
    return true;
}

void settingsAsConfigArgs(const ScopeSettings& s, int (&a)[kConfigArgCount]) {
    forEachConfigField(s, [&a](ConfigArg k, const auto& field) { a[k] = field; });
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
