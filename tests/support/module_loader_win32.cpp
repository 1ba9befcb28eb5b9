#include <windows.h>

#include "support/test_host.h"

LoadedModule::LoadedModule(const std::string& path) {
    HMODULE m = LoadLibraryA(path.c_str());
    handle_ = reinterpret_cast<void*>(m);
    if (m == nullptr) {
        error_ = "LoadLibrary failed with error " + std::to_string(GetLastError());
        return;
    }
    entry_.init = reinterpret_cast<sdk::ModuleInitProc>(
        reinterpret_cast<void*>(GetProcAddress(m, sdk::kModuleInitName)));
    entry_.deinit = reinterpret_cast<sdk::ModuleDeinitProc>(
        reinterpret_cast<void*>(GetProcAddress(m, sdk::kModuleDeinitName)));
}

LoadedModule::~LoadedModule() {
    if (handle_ != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(handle_));
}
