#include <climits>
#include <cstdio>

#include "settings/settings_store.h"

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Decimal text as atoi reads it (white space, a sign, digits up to the first
// non-digit, 0 without digits), but saturating at the ends of int where atoi
// is undefined, so a huge number stays huge and falls out of every range.
int textToInt(const char* text) {
    const char* p = text;
    while (isSpace(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    constexpr long long kBeyond = static_cast<long long>(INT_MAX) + 1;  // |INT_MIN|
    long long magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > kBeyond) magnitude = kBeyond;
    }
    if (negative) return static_cast<int>(-magnitude);
    return magnitude > INT_MAX ? INT_MAX : static_cast<int>(magnitude);
}

int readValue(const char* name) { return textToInt(readRegistryText(kSettingsKey, name).text); }

// Flags are stored inverted ("0" = on). Most read as on for anything <= 0,
// so a missing value ("-1") means on; the two that default to off need an
// exact "0".
uint8_t onWhenAtMostZero(int v) { return v <= 0 ? 1 : 0; }
uint8_t onWhenZero(int v) { return v == 0 ? 1 : 0; }

int32_t inRangeOr(int v, int lo, int hi, int fallback) { return v >= lo && v <= hi ? v : fallback; }

bool writeValue(const char* name, int v) {
    char text[12];  // any 32-bit integer and its terminator
    std::snprintf(text, sizeof text, "%d", v);
    return writeRegistryText(kSettingsKey, name, text);
}

int storedFlag(uint8_t on) { return on ? 0 : 1; }

}  // namespace

void loadSettings(ScopeSettings& s) {
    s.mode = inRangeOr(readValue("mode"), static_cast<int32_t>(DisplayMode::Histograms),
                       kDisplayModeCount - 1, kDefaultSettings.mode);
    s.passthru = onWhenZero(readValue("PASSTHRU"));
    s.accum = onWhenZero(readValue("ACCUM"));
    s.ntsc = onWhenAtMostZero(readValue("NTSC"));
    s.gamma = onWhenAtMostZero(readValue("GAMMA"));
    s.stdDef = onWhenAtMostZero(readValue("STDDEF"));
    s.luma = onWhenAtMostZero(readValue("LUMA"));
    s.red = onWhenAtMostZero(readValue("RED"));
    s.green = onWhenAtMostZero(readValue("GREEN"));
    s.blue = onWhenAtMostZero(readValue("BLUE"));
    s.wfmGrid = onWhenAtMostZero(readValue("WFMGRID"));
    s.rng255 = onWhenAtMostZero(readValue("RNG255"));
    s.maxIRE = inRangeOr(readValue("maxIRE"), kMaxIreLowest, kMaxIreHighest, kDefaultSettings.maxIRE);
    s.hotFix = inRangeOr(readValue("hotFix"), kHotFixToBlack, kHotFixCount - 1, kDefaultSettings.hotFix);
}

bool saveSettings(const ScopeSettings& s) {
    // Each value is a write of its own; one failing does not stop the rest.
    bool ok = true;
    ok = writeValue("mode", s.mode) && ok;
    ok = writeValue("PASSTHRU", storedFlag(s.passthru)) && ok;
    ok = writeValue("ACCUM", storedFlag(s.accum)) && ok;
    ok = writeValue("NTSC", storedFlag(s.ntsc)) && ok;
    ok = writeValue("GAMMA", storedFlag(s.gamma)) && ok;
    ok = writeValue("STDDEF", storedFlag(s.stdDef)) && ok;
    ok = writeValue("RNG255", storedFlag(s.rng255)) && ok;
    ok = writeValue("LUMA", storedFlag(s.luma)) && ok;
    ok = writeValue("RED", storedFlag(s.red)) && ok;
    ok = writeValue("GREEN", storedFlag(s.green)) && ok;
    ok = writeValue("BLUE", storedFlag(s.blue)) && ok;
    ok = writeValue("WFMGRID", storedFlag(s.wfmGrid)) && ok;
    ok = writeValue("hotFix", s.hotFix) && ok;
    ok = writeValue("maxIRE", s.maxIRE) && ok;
    return ok;
}
