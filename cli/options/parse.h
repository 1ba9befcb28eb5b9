// The command line parsed into Options, with one clear message for a bad
// value: FFmpeg's spellings where it has the same idea, long names for what
// is ours alone.
#pragma once

#include "options/options.h"

enum class Action { Run, Help, Version };

// Errors name the option and the value: "-frames: '0' is not a whole number from 1 up".
// `manyInputs`: more than one INPUT is allowed (kivrel report).
Status parseCommandLine(int argc, const char* const* argv, Options& options, Action& action,
                        bool manyInputs = false);

bool hasConfigOverrides(const Options& options);

// -to must come after the start point, here at `startSeconds` (a start by
// frame number has its time only once the input's rate is known).
Status checkEndAfterStart(const Options& options, double startSeconds);
// Replaces the arguments the command line set, keeps the rest.
void applyConfigOverrides(const Options& options, ConfigArgs& args);
