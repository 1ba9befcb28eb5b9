#include "host/filter_callbacks.h"

#include "core/frame.h"
#include "core/scope_instance.h"
#include "dialog/config_dialog.h"
#include "modes/display_table.h"
#include "settings/script_command.h"
#include "settings/settings_store.h"

namespace {

ScopeInstance& instanceOf(const sdk::FilterActivation* fa) {
    return *static_cast<ScopeInstance*>(fa->filter_data);
}

ConstFrame frameOf(const sdk::VFBitmap& b) { return {b.data, b.w, b.h, b.pitch, b.modulo}; }
Frame writableFrameOf(const sdk::VFBitmap& b) { return {b.data, b.w, b.h, b.pitch, b.modulo}; }

int KV_CDECL initProc(sdk::FilterActivation* fa, const sdk::FilterFunctions*) noexcept {
    loadSettings(instanceOf(fa).settings);
    return 0;
}

int KV_CDECL runProc(const sdk::FilterActivation* fa, const sdk::FilterFunctions*) noexcept {
    return renderDisplay(instanceOf(fa), frameOf(*fa->src), writableFrameOf(*fa->dst));
}

long KV_CDECL paramProc(sdk::FilterActivation* fa, const sdk::FilterFunctions*) noexcept {
    sdk::VFBitmap& dst = *fa->dst;
    OutputGeometry geometry{dst.w, dst.h, dst.pitch};
    prepareDisplay(instanceOf(fa), geometry);
    dst.w = geometry.w;
    dst.h = geometry.h;
    dst.pitch = geometry.pitch;
    return sdk::kFilterParamSwapBuffers;  // the output is a frame of its own
}

// The dialog edits the instance in place; only OK makes its settings the
// defaults of new instances. Cancel and a dialog that could not be shown
// save nothing, and the host sees the dialog's own result.
int KV_CDECL configProc(sdk::FilterActivation* fa, const sdk::FilterFunctions*,
                        sdk::HostWindow parent) noexcept {
    ScopeInstance& instance = instanceOf(fa);
    const int32_t result = showConfigDialog(instance, parent);
    if (result == kDialogOk) saveSettings(instance.settings);
    return result;
}

void KV_CDECL stringProc(const sdk::FilterActivation* fa, const sdk::FilterFunctions*, char* buf) noexcept {
    formatLabel(instanceOf(fa).settings, buf);
}

int KV_CDECL startProc(sdk::FilterActivation*, const sdk::FilterFunctions*) noexcept {
    return 0;  // every table is built by paramProc
}

int KV_CDECL endProc(sdk::FilterActivation*, const sdk::FilterFunctions*) noexcept {
    return 0;  // nothing to release: all state lives in the host's instance record
}

bool KV_CDECL fssProc(sdk::FilterActivation* fa, const sdk::FilterFunctions*, char* buf, int size) noexcept {
    if (buf != nullptr && size > 0) formatScriptLine(instanceOf(fa).settings, buf, static_cast<size_t>(size));
    return true;
}

void KV_CDECL scriptConfig(sdk::IScriptInterpreter*, void* activation, const sdk::CScriptValue* argv,
                           int) noexcept {
    auto* fa = static_cast<sdk::FilterActivation*>(activation);
    int args[kConfigArgCount];
    for (int i = 0; i < kConfigArgCount; ++i) args[i] = argv[i].u.i;
    applyConfigArgs(instanceOf(fa).settings, args);
}

sdk::ScriptFunctionDef scriptFunctions[] = {
    {scriptConfig, kConfigFunctionName, kConfigArgList},
    {nullptr, nullptr, nullptr},
};

sdk::CScriptObject scriptObject = {nullptr, scriptFunctions, nullptr};

}  // namespace

sdk::FilterDefinition kivrelFilterDefinition = {
    /*next*/ nullptr,
    /*prev*/ nullptr,
    /*module*/ nullptr,
    /*name*/ "Kivrel [1.5]",
    /*desc*/ "Histogrms, Hot Pixels, WFM, VectorScope",
    /*maker*/ "Dunmarl",
    /*private_data*/ nullptr,
    /*inst_data_size*/ {static_cast<int>(sizeof(ScopeInstance))},
    /*initProc*/ initProc,
    /*deinitProc*/ nullptr,
    /*runProc*/ runProc,
    /*paramProc*/ paramProc,
    /*configProc*/ configProc,
    /*stringProc*/ stringProc,
    /*startProc*/ startProc,
    /*endProc*/ endProc,
    /*script_obj*/ &scriptObject,
    /*fssProc*/ fssProc,
    /*stringProc2*/ nullptr,
    /*serializeProc*/ nullptr,
    /*deserializeProc*/ nullptr,
    /*copyProc*/ nullptr,
};
