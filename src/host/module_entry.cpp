// The module's only exports. KV_EXPORT comes from the build: default visibility
// on Linux, where everything else is hidden; on Windows kivrel.def names them.
#include "host/filter_callbacks.h"

namespace {
// The one piece of module-wide state: the handle the host gave back.
sdk::FilterDefinition* registeredFilter = nullptr;
}  // namespace

extern "C" KV_EXPORT int KV_CDECL VirtualdubFilterModuleInit2(sdk::FilterModule* module,
                                                              const sdk::FilterFunctions* ff, int& version,
                                                              int& compatVersion) noexcept {
    registeredFilter =
        ff->addFilter(module, &kivrelFilterDefinition, static_cast<int>(sizeof(sdk::FilterDefinition)));
    if (registeredFilter == nullptr) return 1;
    version = sdk::kFilterDefVersion;
    compatVersion = sdk::kFilterDefCompatVersion;
    return 0;
}

extern "C" KV_EXPORT void KV_CDECL VirtualdubFilterModuleDeinit(sdk::FilterModule*,
                                                                const sdk::FilterFunctions* ff) noexcept {
    if (registeredFilter != nullptr) ff->removeFilter(registeredFilter);
    registeredFilter = nullptr;
}
