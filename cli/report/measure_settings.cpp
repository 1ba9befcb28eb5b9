#include "report/measure_settings.h"

#include <algorithm>
#include <iterator>

#include "filter/display_state.h"
#include "pluginhost/module_host.h"
#include "report/value_text.h"
#include "run/filter_setup.h"

namespace {

constexpr const char* kSystems[] = {"PAL", "NTSC"};
constexpr const char* kMatrices[] = {"709", "601"};     // by stdDef
constexpr const char* kRanges[] = {"16-235", "0-255"};  // by rng255

}  // namespace

const char* systemWord(bool ntsc) { return kSystems[ntsc ? 1 : 0]; }
const char* matrixWord(bool stdDef) { return kMatrices[stdDef ? 1 : 0]; }
const char* rangeWord(bool rng255) { return kRanges[rng255 ? 1 : 0]; }

Status measureSettingsOf(FilterInstance& inst, int32_t maxIre, const Options& options, MeasureSettings& out) {
    ConfigArgs args{};
    if (Status s = currentArgs(inst, args); !s.ok()) return s;
    out.ntsc = args[kArgNtsc] != 0;
    out.gamma = args[kArgGamma] != 0;
    out.maxIre = maxIre;
    out.matrix = followsSourceMatrix(options) ? kFollowsSource : matrixWord(args[kArgStdDef] != 0);
    out.range = followsSourceRange(options) ? kFollowsSource : rangeWord(args[kArgRng255] != 0);
    out.crop = options.monitor.crop ? options.monitor.crop->text : std::string();
    return {};
}

std::string measureSettingsJson(const MeasureSettings& s) {
    return "{\"system\": " + jsonString(systemWord(s.ntsc)) +
           ", \"gamma_corrected\": " + (s.gamma ? "true" : "false") +
           ", \"max_ire\": " + std::to_string(s.maxIre) + ", \"matrix\": " + jsonString(s.matrix) +
           ", \"range\": " + jsonString(s.range) + ", \"crop\": " + jsonString(s.crop) + "}";
}

bool parseMeasureWords(const std::string& system, const std::string& matrix, const std::string& range,
                       const std::string& crop, MeasureSettings& out) {
    const auto oneOf = [](const std::string& word, const auto& words) {
        return word == kFollowsSource ||
               std::find(std::begin(words), std::end(words), word) != std::end(words);
    };
    if ((system != systemWord(false) && system != systemWord(true)) || !oneOf(matrix, kMatrices) ||
        !oneOf(range, kRanges))
        return false;
    out.ntsc = system == systemWord(true);
    out.matrix = matrix;
    out.range = range;
    out.crop = crop;
    return true;
}

std::string settingsDifference(const MeasureSettings& a, const MeasureSettings& b) {
    const auto differ = [](const char* name, const std::string& x, const std::string& y) {
        return std::string(name) + " " + x + ", not " + y;
    };
    if (a.ntsc != b.ntsc) return differ("system", systemWord(a.ntsc), systemWord(b.ntsc));
    if (a.gamma != b.gamma)
        return differ("gamma_corrected", a.gamma ? "true" : "false", b.gamma ? "true" : "false");
    if (a.maxIre != b.maxIre) return differ("max_ire", std::to_string(a.maxIre), std::to_string(b.maxIre));
    if (a.matrix != b.matrix) return differ("matrix", a.matrix, b.matrix);
    if (a.range != b.range) return differ("range", a.range, b.range);
    const auto region = [](const std::string& crop) { return crop.empty() ? "the whole picture" : crop; };
    if (a.crop != b.crop) return differ("crop", region(a.crop), region(b.crop));
    return "";
}
