#include "filter_setup.h"

#include "defaults.h"

namespace {

// The settings options become one Config line on top of what the instance
// holds now (its stored defaults, or what a script set).
Status applySettings(FilterInstance& inst, const Options& options) {
    if (!hasConfigOverrides(options)) return {};
    const std::string current = inst.scriptLine();
    ScriptCall call;
    ConfigArgs args{};
    if (current.empty())
        return Status::fail("the filter saves no script line, so its settings cannot be set one by one");
    if (parseScriptCall(current, call) != LineKind::Call || !configArgsOf(call, args).ok())
        return Status::fail("cannot read the filter's script line back: '" + current + "'");
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
