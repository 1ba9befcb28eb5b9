// The store's commands: `kivrel defaults [settings options]` shows or sets
// the defaults new instances start from, `kivrel configure` sets them in the
// filter's dialog. They share the command line's guard and how the
// settings are printed.
#pragma once

#include <string>

#include "options/options.h"
#include "settings/script_command.h"

// Parses a store command's line (argv[0] is its name): settings options
// only, and none at all for `configure`. Returns kExitOk, or the status to
// exit with after the one line said why.
int parseStoreCommandLine(int argc, char** argv, Options& options);

// The "Config" line of `s`.
std::string scriptLineOf(const ScopeSettings& s);
// The label as the host's list shows it after the filter's name, the
// "Config" line, and maxIRE, a line each on standard output.
void printSettings(const ScopeSettings& s);
// One line naming the store and why it could not be saved; kExitFailure.
int saveFailed(int problem);
