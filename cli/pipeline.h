// One run of the command-line host: load the module, set up an instance,
// open the input and the output, then read, filter, check and write every
// frame. Returns the process's exit status.
#pragma once

#include "input/input.h"
#include "options.h"

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// A terminating signal (signals.h) stops the frame loop; the status is then
// 128 + its number, and nothing is written unless --keep-partial.
int runPipeline(const Options& options);

// How the command line says to read its input (the file, where to start, its levels ...).
ReaderParams readerParams(const Options& options, const std::string& path);

// At most this many frames of `info` by -frames, -t and -to; -1 for no
// limit. Fails when -to is not after a start given by frame number.
Status frameLimit(const SourceInfo& info, const Options& options, int64_t& limit);

// "kivrel: message" on stderr.
void report(const std::string& message);
