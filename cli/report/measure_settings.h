// The filter's settings that shape a report's numbers, as its run began:
// the saved defaults with the command line's settings options and script on
// top. They travel in every JSON report, so that a merge takes only reports
// measured alike: two machines with other saved defaults (another hot pixel
// ceiling, PAL for NTSC) would otherwise merge into one plausible verdict.
#pragma once

#include <cstdint>
#include <string>

#include "options/options.h"
#include "pluginhost/module_host.h"
#include "pluginhost/status.h"

struct MeasureSettings {
    bool ntsc = false;
    bool gamma = false;
    int32_t maxIre = 0;
    // "601" or "709", "16-235" or "0-255"; kFollowsSource where each file's
    // own tags decide (the filter's settings then follow the source).
    std::string matrix, range;
    // --crop as given ("" for the whole picture): the region every measure covers.
    std::string crop;
};

inline constexpr const char* kFollowsSource = "source";

// The words every form uses for the filter's settings (the per-file settings text too).
const char* systemWord(bool ntsc);    // "NTSC", "PAL"
const char* matrixWord(bool stdDef);  // "601", "709"
const char* rangeWord(bool rng255);   // "0-255", "16-235"

// From an instance configured for the run, before it follows any source.
Status measureSettingsOf(FilterInstance& inst, int32_t maxIre, const Options& options, MeasureSettings& out);

// The JSON object a report writes, and a merge compares and writes again.
std::string measureSettingsJson(const MeasureSettings& settings);

// From a report's words: false for a word this kivrel does not write.
bool parseMeasureWords(const std::string& system, const std::string& matrix, const std::string& range,
                       const std::string& crop, MeasureSettings& out);

// The first setting in which `a` and `b` differ, as "max_ire 120, not 110"; "" when alike.
std::string settingsDifference(const MeasureSettings& a, const MeasureSettings& b);
