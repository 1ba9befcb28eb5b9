#include "run/module.h"

#include <string>

#include "filter/one_run_store.h"
#include "os/paths.h"

Status loadModule(const Options& options, std::unique_ptr<FilterModuleHost>& module) {
    std::string path;
    if (Status s = findModule(options.modulePath, path); !s.ok()) return s;
    Status error;
    module = FilterModuleHost::load(path, error);
    if (!module) return error;
    warnIfStoreUnreadable();
    return {};
}
