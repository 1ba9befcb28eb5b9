// The options kivrel takes, one row each: FFmpeg's spellings where it has
// the same idea (-ss, -t, -frames, -c:v ...), long names for what is ours
// alone, and what each does with its value.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "options/options.h"

enum class Arg { None, Required, Switch };  // Switch: "--x", "--x=on|off", "--no-x"
// How the name is spelled: "--name" (and "-l" for a letter), or "-name" as FFmpeg spells its own.
enum class Dashes { Two, One };

using Apply = Status (*)(Options&, std::string_view value, std::string_view name);

// A setting chosen by name: the words (each may hold aliases, "a|b") and
// what the Config line stores for each.
struct Choice {
    ConfigArg arg;
    std::span<const std::string_view> words;
    std::span<const int> values;
};

// What an option does, by the first member that is set.
struct OptionEntry {
    const char* name;  // long name, without the dashes
    char letter;       // short name, or 0
    Arg arg;
    Dashes dashes = Dashes::Two;
    bool Options::*flag = nullptr;         // set to true
    std::string Options::*text = nullptr;  // takes the value as it is
    const Choice* choice = nullptr;        // one of some words, into the Config line
    int switchArg = -1;                    // Arg::Switch: the Config argument it turns on or off
    Apply apply = nullptr;                 // anything else
    bool perStream = false;                // takes FFmpeg's stream specifier: "-c:v", "-frames:v:0"
    // The value may follow the letter in the same word ("-dvideo"). Not for
    // FFmpeg's own letters, whose long words (-framerate, -vsync) must never
    // pass for the letter and a value.
    bool joinedValue = true;
};

const OptionEntry* findLong(std::string_view name, Dashes dashes);
const OptionEntry* findShort(char letter);
// Does what `entry` does with `value`; `shown`: the option as the command line spelled it.
Status applyOption(const OptionEntry& entry, Options& o, std::string_view value, std::string_view shown);
