// One input of a report: read every frame as the render command would,
// measure it with the filter's code, summarise, and render the worst
// frames' pictures through the module.
#pragma once

#include <memory>

#include "pluginhost/module_host.h"
#include "report/report_data.h"

// The module's instances for one input, set up (stored defaults, script,
// settings options) before any file is read: setting them up reads the
// settings store, which only the main thread does.
struct FileInstances {
    std::unique_ptr<FilterInstance> waveform, hot;
    int32_t maxIre = 0;  // the ceiling the instances read from the store
};
Status setUpInstances(const FilterModuleHost& module, const Options& options, FileInstances& out);

// Fills `out` (its input set); a failed Status for an input that cannot be
// read to its end.
Status checkFile(const ReportOptions& options, FileInstances& instances, FileReport& out);
