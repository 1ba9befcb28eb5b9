// An instance set up as the command line asks: its stored defaults, then a
// script's Config lines, then the settings options on top.
#pragma once

#include "input/source_levels.h"
#include "monitor/monitor.h"
#include "options/options.h"
#include "pluginhost/module_host.h"

Status configure(FilterInstance& inst, const Options& options);

// For an input file, the filter's matrix and range follow the source
// unless the command line or a script sets them (or --matrix/--range auto).
bool followsSourceMatrix(const Options& options);
bool followsSourceRange(const Options& options);
Status followSource(FilterInstance& inst, const Options& options, const SourceLevels& source);

// Every tile of a monitor, and every lane of the one display, set up as the
// run's first instance; `options` must outlive it.
TileSetUp tileSetUp(const Options& options);
