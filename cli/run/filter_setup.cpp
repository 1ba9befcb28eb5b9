#include "run/filter_setup.h"

#include "filter/display_state.h"
#include "filter/one_run_store.h"
#include "options/parse.h"

namespace {

// The settings options become one Config line on top of what the instance
// holds now (its stored defaults, or what a script set).
Status applySettings(FilterInstance& inst, const Options& options) {
    if (!hasConfigOverrides(options)) return {};
    ConfigArgs args{};
    if (Status s = currentArgs(inst, args); !s.ok()) return s;
    applyConfigOverrides(options, args);
    return inst.runScriptLine(formatConfigLine(args));
}

}  // namespace

Status configure(FilterInstance& inst, const Options& options) {
    OneRunStore ownStore;
    if (options.maxIre)
        if (Status s = ownStore.open(*options.maxIre); !s.ok()) return s;
    if (Status s = inst.init(); !s.ok()) return s;
    if (!options.scriptFile.empty())
        if (Status s = inst.runScriptFile(options.scriptFile); !s.ok()) return s;
    if (Status s = applySettings(inst, options); !s.ok()) return s;
    return {};
}

bool followsSourceMatrix(const Options& options) {
    return options.matrixAuto || (options.scriptFile.empty() && !options.config[kArgStdDef]);
}

bool followsSourceRange(const Options& options) {
    return options.rangeAuto || (options.scriptFile.empty() && !options.config[kArgRng255]);
}

Status followSource(FilterInstance& inst, const Options& options, const SourceLevels& source) {
    // Nothing to follow in RGB: the filter keeps what it has.
    if (!source.yuv) return {};
    const bool matrix = followsSourceMatrix(options);
    const bool range = followsSourceRange(options);
    if (!matrix && !range) return {};
    ConfigArgs args{};
    if (Status s = currentArgs(inst, args); !s.ok()) return s;
    const ConfigArgs before = args;
    if (matrix) args[kArgStdDef] = filterUsesStdDef(source.matrix) ? 1 : 0;
    if (range) args[kArgRng255] = source.fullRange ? 1 : 0;
    if (args == before) return {};
    return inst.runScriptLine(formatConfigLine(args));
}

// Every tile of a monitor, and every lane of the one display, set up as the run's first instance.
TileSetUp tileSetUp(const Options& options) {
    TileSetUp setUp{
        [&options](FilterInstance& inst) { return configure(inst, options); }, {}, options.padPitch};
    if (!options.input.empty())
        setUp.followSource = [&options](FilterInstance& inst, const SourceLevels& levels) {
            return followSource(inst, options, levels);
        };
    return setUp;
}
