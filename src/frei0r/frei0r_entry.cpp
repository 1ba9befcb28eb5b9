// The frei0r module's only exports: frei0r API 1.2's nine entry points.
// KV_EXPORT comes from the build. Each is safe in any order a host may call
// it: null pointers, unknown indices and refused values change nothing, and
// all state lives in the instance (the module has none of its own).
extern "C" {
#include <frei0r.h>
}

#include "frei0r/filter_instance.h"
#include "frei0r/filter_params.h"

namespace {

constexpr const char* kFilterName = "kivrel";  // GStreamer's element: frei0r-filter-kivrel
constexpr const char* kAuthor = "Dunmarl";
constexpr const char* kExplanation =
    "Broadcast scopes: video view, hot pixel scan, histograms, waveform monitor and vectorscope, "
    "fitted into the frame";

FilterInstance* instanceOf(f0r_instance_t instance) { return static_cast<FilterInstance*>(instance); }

}  // namespace

extern "C" KV_EXPORT int f0r_init() { return 1; }

extern "C" KV_EXPORT void f0r_deinit() {}

extern "C" KV_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    if (info == nullptr) return;
    info->name = kFilterName;
    info->author = kAuthor;
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    // The filter's own pixel word, 0xAARRGGBB, is B, G, R, A in memory.
    info->color_model = F0R_COLOR_MODEL_BGRA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = KIVREL_VERSION_MAJOR;
    info->minor_version = KIVREL_VERSION_MINOR;
    info->num_params = kParamCount;
    info->explanation = kExplanation;
}

extern "C" KV_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int index) {
    if (info == nullptr || index < 0 || index >= kParamCount) return;
    info->name = kFilterParamInfo[index].name;
    info->type = isSwitchParam(index) ? F0R_PARAM_BOOL : F0R_PARAM_STRING;
    info->explanation = kFilterParamInfo[index].explanation;
}

extern "C" KV_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    return createInstance(width, height);
}

extern "C" KV_EXPORT void f0r_destruct(f0r_instance_t instance) { destroyInstance(instanceOf(instance)); }

extern "C" KV_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    FilterInstance* inst = instanceOf(instance);
    if (inst == nullptr || param == nullptr) return;
    if (isSwitchParam(index))
        setSwitchParam(inst->params, index, *static_cast<const f0r_param_bool*>(param));
    else if (isTextParam(index))
        setTextParam(inst->params, index, *static_cast<const f0r_param_string*>(param));
}

extern "C" KV_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    FilterInstance* inst = instanceOf(instance);
    if (inst == nullptr || param == nullptr) return;
    if (isSwitchParam(index))
        *static_cast<f0r_param_bool*>(param) = switchValue(inst->params, index);
    else if (isTextParam(index))
        *static_cast<f0r_param_string*>(param) = const_cast<char*>(shownText(inst->params, index));
}

// The time is not used: no display depends on it (FFmpeg passes
// milliseconds, the other hosts seconds).
extern "C" KV_EXPORT void f0r_update(f0r_instance_t instance, double, const uint32_t* inframe,
                                     uint32_t* outframe) {
    FilterInstance* inst = instanceOf(instance);
    if (inst == nullptr || inframe == nullptr || outframe == nullptr) return;
    updateInstance(*inst, inframe, outframe);
}
