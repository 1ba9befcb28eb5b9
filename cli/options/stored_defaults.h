// The defaults new instances start from, as the settings options set them:
// `kivrel defaults` stores and shows them, `kivrel configure` shows what its
// dialog stored, and the viewer's save key stores what it shows.
#pragma once

#include <string>

#include "options/options.h"
#include "settings/script_command.h"

// The settings options of `options` stored as the defaults (all of them shown
// unless quiet). Returns the exit status, after one line saying why on failure.
int setDefaults(const Options& options);

// The "Config" line of `s`.
std::string scriptLineOf(const ScopeSettings& s);
// The label as an editor's filter list shows it after the filter's name, the
// "Config" line, and maxIRE, a line each on standard output.
void printSettings(const ScopeSettings& s);
// One line naming the store and why it could not be saved; kExitFailure.
int saveFailed(int problem);
