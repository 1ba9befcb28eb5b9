// kivrel's commands, each in a file of its own that sets up and runs one
// thing. A command the first word names gets argv from that word on
// (argv[0] is the word) and returns the exit status; main.cpp lists them.
#pragma once

#include <string_view>

#include "options/options.h"

// A command named by the first word: `kivrel NAME ...`.
struct Command {
    std::string_view name;
    int (*run)(int argc, char** argv);
};

// `kivrel report INPUT...`: whole files checked for broadcast legality.
int runReportCommand(int argc, char** argv);
// `kivrel defaults [settings options]`: the stored defaults, shown or set.
int runDefaultsCommand(int argc, char** argv);
// `kivrel configure`: the defaults set in the filter's dialog.
int runConfigureCommand(int argc, char** argv);
// `kivrel play INPUT [options]`: the displays live in a window.
int runPlayCommand(int argc, char** argv);

// `kivrel [OPTIONS] [INPUT]`, no command word: one display (or a monitor)
// rendered over the input.
int runRenderCommand(const Options& options);
