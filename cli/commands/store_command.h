// The store's commands: `kivrel defaults [settings options]` shows or sets
// the defaults new instances start from, `kivrel configure` sets them in the
// filter's dialog. They share the command line's guard.
#pragma once

#include <string>

#include "options/options.h"

// Parses a store command's line (argv[0] is its name): settings options
// only, and none at all for `configure`. Returns kExitOk, or the status to
// exit with after the one line said why.
int parseStoreCommandLine(int argc, char** argv, Options& options);
