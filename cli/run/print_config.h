// --print-config: the settings this input gets, after "auto" has followed
// its tags, printed instead of a run.
#pragma once

#include "monitor/monitor.h"
#include "pluginhost/module_host.h"

// The filter's label and its script line.
void printConfig(FilterInstance& inst);
// A line per tile, named by its display.
void printConfig(Monitor& monitor);
