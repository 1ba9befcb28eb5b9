#include "filter_setup.h"

#include "defaults.h"

namespace {

Status currentArgs(FilterInstance& inst, ConfigArgs& args) {
    const std::string current = inst.scriptLine();
    ScriptCall call;
    if (current.empty())
        return Status::fail("the filter saves no script line, so its settings cannot be set one by one");
    if (parseScriptCall(current, call) != LineKind::Call || !configArgsOf(call, args).ok())
        return Status::fail("cannot read the filter's script line back: '" + current + "'");
    return {};
}

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

Status followSource(FilterInstance& inst, const Options& options, const SourceLevels& source) {
    // Nothing to follow in RGB: the filter keeps what it has.
    if (!source.yuv) return {};
    const bool scripted = !options.scriptFile.empty();
    const bool matrix = options.matrixAuto || (!scripted && !options.config[kArgStdDef]);
    const bool range = options.rangeAuto || (!scripted && !options.config[kArgRng255]);
    if (!matrix && !range) return {};
    ConfigArgs args{};
    if (Status s = currentArgs(inst, args); !s.ok()) return s;
    const ConfigArgs before = args;
    if (matrix) args[kArgStdDef] = filterUsesStdDef(source.matrix) ? 1 : 0;
    if (range) args[kArgRng255] = source.fullRange ? 1 : 0;
    if (args == before) return {};
    return inst.runScriptLine(formatConfigLine(args));
}

bool filterStudioRange(FilterInstance& inst) {
    ConfigArgs args{};
    return currentArgs(inst, args).ok() && args[kArgRng255] == 0;
}
