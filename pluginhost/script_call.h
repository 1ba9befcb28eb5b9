// One line of the host's processing script that calls a function, such as
// "Config(3, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1)" or, as saved scripts put
// it, "VirtualDub.video.filters.instance[0].Config(...);".
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings_vocabulary.h"
#include "pluginhost/status.h"

inline constexpr std::string_view kConfigFunction = kConfigFunctionName;

struct ScriptCall {
    std::string function;           // the name right before the parenthesis
    std::vector<std::string> args;  // trimmed argument texts, left to right
};

enum class LineKind { Blank, Call, Other };

// Blank: nothing but white space or a "//" comment. Other: text that is not a
// single call (the caller decides whether that is an error).
LineKind parseScriptCall(std::string_view line, ScriptCall& call);

// A decimal integer with an optional sign that fits 32 bits.
bool parseScriptInt(std::string_view text, int& value);

// The thirteen arguments of a "Config" call, in line order.
using ConfigArgs = std::array<int, kConfigArgCount>;
Status configArgsOf(const ScriptCall& call, ConfigArgs& args);
// The settings a script line holds, read back: false for a line that is
// not one "Config" call of integers (each caller says why it needed them).
bool configArgsOfLine(std::string_view line, ConfigArgs& args);
// "Config(a, b, ...)" as the module writes it.
std::string formatConfigLine(const ConfigArgs& args);
