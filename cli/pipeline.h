// One run of the command-line host: load the module, set up an instance,
// open the input and the output, then read, filter, check and write every
// frame. Returns the process's exit status.
#pragma once

#include <csignal>

#include "options.h"

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130;  // the shell's 128 + SIGINT

// `interrupted` is set by a signal handler: the frame loop stops, nothing is written.
int runPipeline(const Options& options, const volatile std::sig_atomic_t& interrupted);

// "kivrel: message" on stderr.
void report(const std::string& message);
