// The settings store as kivrel uses it, through the filter's own settings
// code: a one-run store carries --max-ire (the one setting the "Config" line
// does not hold) into an instance without touching the user's store.
#pragma once

#include <string>

#include "pluginhost/status.h"

// One line on standard error when the store exists but cannot be read: the
// module then starts from the factory defaults without a word.
void warnIfStoreUnreadable();

// Where the user's store is, for messages.
std::string storeName();
// The store's own words for why, in brackets; nothing when it gave none.
std::string storeProblemNote(int problem);

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
