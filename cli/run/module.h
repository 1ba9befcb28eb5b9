// The module a run renders with: found where --module or the usual places
// say (os/paths.h) and loaded through its exports.
#pragma once

#include <memory>

#include "options/options.h"
#include "pluginhost/module_host.h"

// Also says, in one line, when the settings store the module is about to
// read cannot be read.
Status loadModule(const Options& options, std::unique_ptr<FilterModuleHost>& module);
