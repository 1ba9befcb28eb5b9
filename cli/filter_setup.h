// An instance set up as the command line asks: its stored defaults, then a
// script's Config lines, then the settings options on top.
#pragma once

#include "options.h"
#include "pluginhost/module_host.h"

Status configure(FilterInstance& inst, const Options& options);
