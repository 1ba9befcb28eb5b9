// One run of the command-line host, wired from its stages: load the module
// (module.h), set up what renders, one display or a monitor
// (scope_renderer.h), open the input (read.h) and the output
// (output_name.h), then read, convert, render and write every frame
// (read.h, render.h, write.h) and print the summary (summary_printer.h).
// Returns the process's exit status.
#pragma once

#include "options/options.h"

// A terminating signal (os/signals.h) stops the frame loop; the status is
// then 128 + its number, and nothing is written unless --keep-partial.
int runPipeline(const Options& options);
