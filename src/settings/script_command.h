// The "Config" script line that carries thirteen settings (all but maxIRE)
// through the host's processing script, and the label shown in its filter list.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/settings_vocabulary.h"

inline constexpr size_t kScriptLineMax = 66;  // longest line and its terminator
inline constexpr size_t kLabelMax = 43;       // longest label and its terminator

// Arguments by ConfigArg position; flags become 1 for any non-zero value, mode and
// hotFix are stored as they come.
void applyConfigArgs(ScopeSettings& s, const int (&args)[kConfigArgCount]);
// The arguments of a Config line as text, without the call around them:
// kConfigArgCount whole numbers separated by commas, spaces or slashes (any
// run of them), each in int's range. False, with `args` untouched, for
// anything else. Allocates nothing.
bool parseConfigArgs(std::string_view text, int (&args)[kConfigArgCount]);
// The arguments that give `s` back through applyConfigArgs.
void settingsAsConfigArgs(const ScopeSettings& s, int (&args)[kConfigArgCount]);
// Bounded: the text always ends inside the buffer (when size > 0).
void formatScriptLine(const ScopeSettings& s, char* buf, size_t size);
// Writes nothing at all for the vectorscope or an unknown mode.
void formatLabel(const ScopeSettings& s, char* buf);
