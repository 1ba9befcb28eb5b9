// The settings of one instance and the words they travel in: the display
// modes and their names, the channel order, the "Config" script line's
// arguments, the hot pixel actions and the ceilings the store accepts.
// Everything that reads or writes a setting (store, script line, label,
// displays, command-line host, tests) takes these names from here.
#pragma once

#include <cstdint>
#include <string_view>

enum class DisplayMode : int32_t {
    Histograms = 0,
    HotPixel = 1,
    Video = 2,
    Waveform = 3,
    Vectorscope = 4,
};
inline constexpr int32_t kDisplayModeCount = 5;

// Short names in mode order (the mode number is the index), as the
// command-line host and its output file names spell them.
inline constexpr std::string_view kDisplayNames[kDisplayModeCount] = {"histograms", "hotpixel", "video",
                                                                      "waveform", "vectorscope"};

// Every writer of a switch stores exactly 0 or 1; readers test for non-zero.
struct ScopeSettings {
    uint8_t accum;     // "Accumulate across frames" (histograms)
    uint8_t passthru;  // overrides mode: every frame goes to the video view
    uint8_t ntsc;      // 1 NTSC (YIQ, gamma 2.2), 0 PAL (YUV, gamma 2.8)
    uint8_t gamma;     // "Gamma Corrected": source levels already corrected
    uint8_t stdDef;    // 1 "Std Def (601)", 0 "High Def (709)"
    uint8_t rng255;    // 1 "0-255" source, 0 "16-235"
    uint8_t luma;
    uint8_t red;
    uint8_t green;
    uint8_t blue;
    uint8_t wfmGrid;  // "Show Grid"
    int32_t mode;     // a DisplayMode; a script may store any value
    int32_t hotFix;   // a HotFix value; a script may store any value
    int32_t maxIRE;   // hot-pixel ceiling in IRE, within kMaxIreLowest..kMaxIreHighest
};
static_assert(sizeof(ScopeSettings) == 11 + 1 /* padding */ + 3 * 4);

// What the hot pixel scan does with an illegal pixel. Any value other than
// the first two acts as saturation.
enum HotFix : int32_t { kHotFixToBlack = 0, kHotFixIntensity = 1, kHotFixSaturation = 2 };
inline constexpr int32_t kHotFixCount = 3;
// As the filter's label names them, in value order.
inline constexpr std::string_view kHotFixWords[kHotFixCount] = {"to black", "intensity", "saturation"};

// The hot-pixel ceilings the settings store accepts, in IRE (100 is full
// scale). Only the store sets maxIRE, so an instance never holds another.
inline constexpr int32_t kMaxIreLowest = 0;
inline constexpr int32_t kMaxIreHighest = 120;

inline constexpr ScopeSettings kDefaultSettings = {
    /*accum*/ 0,
    /*passthru*/ 0,
    /*ntsc*/ 1,
    /*gamma*/ 1,
    /*stdDef*/ 1,
    /*rng255*/ 1,
    /*luma*/ 1,
    /*red*/ 1,
    /*green*/ 1,
    /*blue*/ 1,
    /*wfmGrid*/ 1,
    /*mode*/ static_cast<int32_t>(DisplayMode::Histograms),
    /*hotFix*/ kHotFixToBlack,
    /*maxIRE*/ 110,
};

// The display the settings select: Video under pass-through, else the mode.
inline int32_t effectiveMode(const ScopeSettings& s) {
    return s.passthru ? static_cast<int32_t>(DisplayMode::Video) : s.mode;
}

// Channels: luma, red, green, blue, in that order everywhere (histogram
// records, panels top to bottom, waveform panels, "Config" arguments).
inline constexpr int kChannelCount = 4;
enum Channel : int { kLuma = 0, kRed = 1, kGreen = 2, kBlue = 3 };

// The channel switches in channel order.
inline bool channelOn(const ScopeSettings& s, int channel) {
    const uint8_t switches[kChannelCount] = {s.luma, s.red, s.green, s.blue};
    return switches[channel] != 0;
}

inline int32_t switchedOnChannels(const ScopeSettings& s) {
    int32_t n = 0;
    for (int c = 0; c < kChannelCount; ++c) n += channelOn(s, c) ? 1 : 0;
    return n;
}

// The script function that carries thirteen settings (all but maxIRE)
// through the host's processing script, and its argument positions.
inline constexpr const char* kConfigFunctionName = "Config";
inline constexpr const char* kConfigArgList = "0iiiiiiiiiiiii";  // no result, 13 ints
enum ConfigArg : int {
    kArgMode = 0,
    kArgPassthru,
    kArgAccum,
    kArgNtsc,
    kArgGamma,
    kArgStdDef,
    kArgRng255,
    kArgLuma,  // then red, green and blue, in channel order
    kArgRed,
    kArgGreen,
    kArgBlue,
    kArgHotFix,
    kArgWfmGrid,
    kConfigArgCount,
};
static_assert(kArgBlue - kArgLuma == kBlue - kLuma);
