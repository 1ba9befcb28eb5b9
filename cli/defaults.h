// The settings store from the command line, through the filter's own
// settings code: `kivrel defaults` shows and sets the defaults every new
// instance starts from, and a one-run store carries --max-ire (the one
// setting the "Config" line does not hold) into an instance without
// touching the user's store.
#pragma once

#include <string>

#include "options.h"
#include "pluginhost/status.h"

// One line on standard error when the store exists but cannot be read: the
// module then starts from the factory defaults without a word.
void warnIfStoreUnreadable();
// Prints the stored defaults; with settings options, saves them first.
int runDefaultsCommand(const Options& options);
// `kivrel configure` in a terminal smaller than the form needs.
inline constexpr int kExitTerminalTooSmall = 4;

// Opens the filter's own dialog on the terminal, through the module's
// exports as a host does: on OK the module saves the new defaults (printed
// then) and the status is 0; Cancel gives 1, a terminal too small for the
// form kExitTerminalTooSmall.
int runConfigureCommand(const Options& options);

// While it lives, the module reads a store of its own: the user's values
// with maxIRE replaced. Create the instance inside its lifetime; the store is
// read once, at creation, so it can go at once afterwards.
class OneRunStore {
public:
    OneRunStore() = default;
    ~OneRunStore();
    OneRunStore(const OneRunStore&) = delete;
    OneRunStore& operator=(const OneRunStore&) = delete;

    Status open(int maxIre);

private:
    std::string folder_, file_;
    std::string previous_;  // KIVREL_REGISTRY before, when it was set
    bool hadPrevious_ = false, active_ = false;
};
