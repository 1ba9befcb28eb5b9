// A module file loaded as the platform loads plug-ins (dlopen or
// LoadLibrary), and the two entry points a filter module exports.
#pragma once

#include <string>

#include "pluginhost/status.h"
#include "sdk/filter_sdk.h"

struct ModuleEntryPoints {
    sdk::ModuleInitProc init = nullptr;
    sdk::ModuleDeinitProc deinit = nullptr;
};

class ModuleLibrary {
public:
    ModuleLibrary() = default;
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    // A bare file name means the current folder, not the loader's search path.
    // Failures name the module.
    Status open(const std::string& path);
    // Null when the module does not export it.
    void* symbol(const char* name) const;

private:
    void* handle_ = nullptr;
};
