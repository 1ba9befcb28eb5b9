#include <dlfcn.h>

#include "support/test_host.h"

LoadedModule::LoadedModule(const std::string& path) {
    // A bare file name means "beside us", as a plug-in host looks in its own folder.
    const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        error_ = dlerror();
        return;
    }
    entry_.init = reinterpret_cast<sdk::ModuleInitProc>(dlsym(handle_, sdk::kModuleInitName));
    entry_.deinit = reinterpret_cast<sdk::ModuleDeinitProc>(dlsym(handle_, sdk::kModuleDeinitName));
}

LoadedModule::~LoadedModule() {
    if (handle_ != nullptr) dlclose(handle_);
}
